#include "ftd2xx/read_loop.h"

#include <algorithm>
#include <climits>

namespace korvi::ftd2xx
{

FT_STATUS ReadWithDeadline(const ReadSource &source, std::uint8_t *buffer, DWORD count, DWORD *bytesReturned,
                           std::chrono::steady_clock::duration timeout)
{
    if (bytesReturned == nullptr || (buffer == nullptr && count > 0))
        return FT_INVALID_PARAMETER;
    *bytesReturned = 0;
    const auto deadline = source.now() + timeout;
    DWORD got = 0;
    while (got < count) {
        const std::size_t ask = std::min<std::size_t>(count - got, INT_MAX);
        const long n = source.readSome(buffer + got, ask);
        if (n < 0) {
            *bytesReturned = got;
            return FT_IO_ERROR;
        }
        got += static_cast<DWORD>(std::min<std::size_t>(static_cast<std::size_t>(n), ask));
        if (got >= count || source.now() >= deadline)
            break;
        if (n == 0 && source.idle)
            source.idle();
    }
    *bytesReturned = got;
    return FT_OK;
}

} // namespace korvi::ftd2xx
