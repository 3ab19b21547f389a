// Where the dump processing sends its log lines and status messages. The
// capture sends them over the extcap control channel; anything else that
// drives the processing (a demo, a test) may collect them instead.
#pragma once

struct ControlChannel;

struct MessageSink {
    virtual ~MessageSink() = default;
    // level: LogLevel of control_channel.h
    virtual void log(int level, const char *text) = 0;
    // kind: StatusKind of control_channel.h
    virtual void status(int kind, const char *text) = 0;
};

// Forwards to logMessage/sendStatus of the control channel. The channel's own
// filters and its one-per-second status bar apply; results are ignored as
// every caller of the dump processing ignores them.
struct ControlChannelSink final : MessageSink {
    explicit ControlChannelSink(ControlChannel *channel) : channel_(channel) {}
    void log(int level, const char *text) override;
    void status(int kind, const char *text) override;

private:
    ControlChannel *channel_;
};
