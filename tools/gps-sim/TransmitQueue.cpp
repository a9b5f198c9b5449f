#include "tools/gps-sim/TransmitQueue.h"

#include <algorithm>
#include <cstring>

namespace tavro::gpssim {

bool TransmitQueue::PushData(std::string unit) {
    if (unit.empty()) {
        return true;
    }
    if (pending_ + unit.size() > capacity_) {
        return false;
    }
    pending_ += unit.size();
    data_.push_back(Unit{std::move(unit), 0});
    return true;
}

void TransmitQueue::PushReply(std::string unit, uint32_t switchBaud) {
    pending_ += unit.size();
    replies_.push_back(Unit{std::move(unit), switchBaud});
}

size_t TransmitQueue::Take(uint8_t* out, size_t size, uint32_t& switchBaud) {
    switchBaud = 0;
    size_t taken = 0;
    while (taken < size) {
        if (sent_ == current_.bytes.size()) {
            std::deque<Unit>& source = !replies_.empty() ? replies_ : data_;
            if (source.empty()) {
                break;
            }
            current_ = std::move(source.front());
            source.pop_front();
            sent_ = 0;
        }
        const size_t count = std::min(size - taken, current_.bytes.size() - sent_);
        std::memcpy(out + taken, current_.bytes.data() + sent_, count);
        sent_ += count;
        taken += count;
        pending_ -= count;
        if (sent_ == current_.bytes.size() && current_.switchBaud != 0) {
            switchBaud = current_.switchBaud;
            current_.switchBaud = 0;
            break;
        }
    }
    return taken;
}

} // namespace tavro::gpssim
