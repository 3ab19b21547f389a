#include "frame_results.h"

#include <cstring>

flowlens_frame_results::flowlens_frame_results() { clear(); }

void flowlens_frame_results::clear() {
    frames_.clear();
    messages_.clear();
    strings_.assign(1, '\0');
}

bool flowlens_frame_results::begin(uint64_t number) {
    if (number != frames_.size() + 1) return false;
    frames_.push_back(frame{no_text, messages_.size()});
    return true;
}

size_t flowlens_frame_results::store(const char *text) {
    if (text == nullptr || text[0] == '\0') return 0;
    const size_t offset = strings_.size();
    strings_.insert(strings_.end(), text, text + std::strlen(text) + 1);
    return offset;
}

void flowlens_frame_results::add_message(uint8_t severity, const char *text) {
    if (frames_.empty()) return;
    messages_.push_back(message{store(text), severity});
}

void flowlens_frame_results::set_text(uint64_t number, const char *text) {
    if (!has(number) || has_text(number)) return;
    frames_[number - 1].text = store(text);
}

const char *flowlens_frame_results::text(uint64_t number) const {
    return has_text(number) ? &strings_[frames_[number - 1].text] : &strings_[0];
}
