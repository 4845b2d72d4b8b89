// The drive-controller exchange: a sub-command and a payload of whole 16-bit words wrapped in one
// frame, written in one go, and an optional reply read back into the caller's buffer. The
// controller sends no acknowledgement byte.
#include <cstring>
#include <vector>

#include "korvicom_link.h"

namespace korvicom
{
namespace
{

constexpr std::uint8_t kDriveOpcode = 90;
constexpr int kDriveTimeoutMs = 30000;
constexpr int kFrameHeaderWords = 3;
// Counts travel as 16-bit words.
constexpr int kMaxCount = 65535;

bool CountsAcceptable(const std::uint16_t *buffer, int byteCount, int replyByteCount)
{
    if (byteCount < 0 || byteCount > kMaxCount || byteCount % 2 != 0)
        return false;
    if (replyByteCount < 0 || replyByteCount > kMaxCount)
        return false;
    return buffer != nullptr || (byteCount == 0 && replyByteCount == 0);
}

} // namespace
} // namespace korvicom

using namespace korvicom;

extern "C" {

int _KEDRO_Control(int subCommand, uint16_t *buffer, int byteCount, int replyByteCount,
                   UsbErrorCallback callback)
{
    // An odd count would cut the last payload word and desynchronise the controller's framing; a
    // negative one has no meaning. Refused before anything is sent.
    if (!CountsAcceptable(buffer, byteCount, replyByteCount))
        return static_cast<int>(FT_INVALID_PARAMETER);

    const int payloadWords = byteCount / 2;
    std::vector<std::uint16_t> frame(static_cast<std::size_t>(kFrameHeaderWords + payloadWords), 0);
    frame[0] = CommandWord(subCommand, kDriveOpcode);
    frame[1] = static_cast<std::uint16_t>(byteCount);
    frame[2] = static_cast<std::uint16_t>(replyByteCount);
    if (payloadWords > 0)
        std::memcpy(frame.data() + kFrameHeaderWords, buffer, static_cast<std::size_t>(byteCount));

    FT_STATUS notOpened = FT_OK;
    FT_HANDLE handle = OpenCameraLink(kDriveTimeoutMs, kDriveTimeoutMs, callback, &notOpened);
    if (handle == nullptr)
        return static_cast<int>(notOpened);
    DWORD written = 0;
    const FT_STATUS write =
        FT_Write(handle, frame.data(), static_cast<DWORD>(byteCount + 2 * kFrameHeaderWords), &written);
    Report(callback, write);
    // The first failure decides the call's status: a frame that did not go out, or a reply that
    // failed or ended early (a silent controller), would otherwise leave the payload, or zeros, in
    // the buffer as if the controller had sent them, with 0 for success.
    FT_STATUS failed = write;
    // A frame that did not go out has no reply to wait 30 s for.
    if (replyByteCount >= 1 && write == FT_OK) {
        DWORD received = 0;
        const FT_STATUS read = FT_Read(handle, buffer, static_cast<DWORD>(replyByteCount), &received);
        Report(callback, read);
        if (failed == FT_OK)
            failed = read;
        if (read == FT_OK && received < static_cast<DWORD>(replyByteCount)) {
            Report(callback, FT_IO_ERROR);
            if (failed == FT_OK)
                failed = FT_IO_ERROR;
        }
    }
    const FT_STATUS closed = FT_Close(handle);
    return static_cast<int>(failed != FT_OK ? failed : closed);
}

} // extern "C"
