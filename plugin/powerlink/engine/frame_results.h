// What the analysis found for each frame: its messages (severity and text)
// and its extended text. The analysis sees each frame once, in frame order;
// Wireshark dissects frames again and again, in any order, with or without a
// protocol tree (packet list rows, packet details, filters, a second pass),
// and each of those dissections shows the frame's results from here.
//
// Frames are numbered 1, 2, 3 ... after each clear(); everything lives in
// three growing arrays, so recording costs no allocation per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class flowlens_frame_results {
public:
    flowlens_frame_results();

    // Forgets every frame (the analysis restarts from frame 1).
    void clear();

    // Starts the record of the next frame; its number must be frames() + 1,
    // any other number is refused (returns false).
    bool begin(uint64_t number);
    // A message of the frame begun last (the text is copied).
    void add_message(uint8_t severity, const char *text);
    // The extended text of a recorded frame (copied). Built when a view first
    // needs it, so it is set at most once: later calls change nothing.
    void set_text(uint64_t number, const char *text);

    // Number of frames recorded so far.
    uint64_t frames() const { return frames_.size(); }
    bool has(uint64_t number) const { return number >= 1 && number <= frames_.size(); }
    bool has_text(uint64_t number) const { return has(number) && frames_[number - 1].text != no_text; }
    // The frame's text ("" for a frame not recorded or without text yet).
    const char *text(uint64_t number) const;
    // Calls f(severity, text) for each message of the frame, in order.
    template <class F>
    void for_each_message(uint64_t number, F f) const {
        if (!has(number)) return;
        const size_t end = number < frames_.size() ? frames_[number].first_message : messages_.size();
        for (size_t i = frames_[number - 1].first_message; i < end; ++i)
            f(messages_[i].severity, &strings_[messages_[i].text]);
    }

private:
    static constexpr size_t no_text = SIZE_MAX;
    struct frame {
        size_t text;           // offset in strings_, no_text until set
        size_t first_message;  // index in messages_
    };
    struct message {
        size_t text;
        uint8_t severity;
    };
    size_t store(const char *text);

    std::vector<frame> frames_;
    std::vector<message> messages_;
    std::vector<char> strings_;  // NUL-terminated texts; offset 0 is the empty text
};
