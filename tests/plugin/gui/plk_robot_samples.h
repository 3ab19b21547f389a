// The flowlens engine run over a real capture, for the cycle page tests.
// Kept apart from the Qt and Wireshark headers of the tests: the engine's
// and the capture reader's names clash with theirs.
#pragma once

#include <memory>
#include <string>

class flowlens_cycle_samples;

class analysed_capture {
public:
    // Feeds every frame of the shared capture `name` to a new engine; check
    // error() (the capture folder may be missing: skipped()).
    explicit analysed_capture(const std::string &name);
    ~analysed_capture();
    analysed_capture(const analysed_capture &) = delete;
    analysed_capture &operator=(const analysed_capture &) = delete;

    bool skipped() const { return skip; }
    const std::string &error() const { return why; }
    const flowlens_cycle_samples *samples() const;

    // The texts of the engine's ±5 % and ±10 % deviation events.
    static const char *deviation5Text();
    static const char *deviation10Text();

private:
    struct engine;
    std::unique_ptr<engine> run;
    bool skip = false;
    std::string why;
};
