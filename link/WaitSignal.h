#pragma once

// An auto-reset event on an eventfd: a wait on the serial port also polls Handle() and ends
// early when the signal is set. Safe to Set from any thread.
class TWaitSignal {
public:
    TWaitSignal();
    ~TWaitSignal();

    TWaitSignal(const TWaitSignal &) = delete;
    TWaitSignal &operator=(const TWaitSignal &) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    int Handle() const { return FFd; }

private:
    int FFd = -1;
};
