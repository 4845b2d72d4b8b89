#pragma once
// The bytes the controller has sent and the host has not read yet. Replies are kept as segments
// that either own their bytes or share a prepared buffer (a replayed frame), so that a read copies
// each byte once, straight from where it lies into the caller's block.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace korvi::sim
{

class ReplyQueue
{
public:
    void Append(std::vector<std::uint8_t> bytes)
    {
        if (bytes.empty())
            return;
        auto owned = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
        const std::uint8_t *data = owned->data();
        const std::size_t size = owned->size();
        Push(Segment{std::move(owned), data, size});
    }
    void AppendByte(std::uint8_t byte) { Append(std::vector<std::uint8_t>{byte}); }
    void AppendWords(const std::vector<std::uint16_t> &words, std::size_t maxBytes = SIZE_MAX)
    {
        std::vector<std::uint8_t> bytes(std::min(words.size() * 2, maxBytes));
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(words[i / 2] >> ((i & 1) ? 8 : 0));
        Append(std::move(bytes));
    }
    // Shares bytes that the owner keeps alive; nothing is copied here.
    void AppendShared(std::shared_ptr<const void> owner, const std::uint8_t *data, std::size_t size)
    {
        if (size > 0)
            Push(Segment{std::move(owner), data, size});
    }
    void AppendZeros(std::size_t count)
    {
        if (count > 0)
            Push(Segment{nullptr, nullptr, count});
    }

    std::size_t size() const { return size_; }
    void Clear()
    {
        segments_.clear();
        size_ = 0;
    }

    // Moves up to count bytes into destination; returns how many.
    std::size_t Take(std::uint8_t *destination, std::size_t count)
    {
        std::size_t taken = 0;
        while (taken < count && !segments_.empty()) {
            Segment &front = segments_.front();
            const std::size_t n = std::min(count - taken, front.size);
            if (front.data != nullptr) {
                std::memcpy(destination + taken, front.data, n);
                front.data += n;
            } else {
                std::memset(destination + taken, 0, n);
            }
            front.size -= n;
            taken += n;
            if (front.size == 0)
                segments_.pop_front();
        }
        size_ -= taken;
        return taken;
    }

private:
    struct Segment {
        std::shared_ptr<const void> owner;
        const std::uint8_t *data; // null: zeros
        std::size_t size;
    };
    void Push(Segment segment)
    {
        size_ += segment.size;
        segments_.push_back(std::move(segment));
    }

    std::deque<Segment> segments_;
    std::size_t size_ = 0;
};

} // namespace korvi::sim
