#pragma once

// An auto-reset event on an eventfd: a wait on the serial port also polls handle() and ends
// early when the signal is set. Safe to Set from any thread.
class WaitSignal {
public:
    WaitSignal();
    ~WaitSignal();

    WaitSignal(const WaitSignal &) = delete;
    WaitSignal &operator=(const WaitSignal &) = delete;

    void set();
    void reset();
    bool isSet() const;
    int handle() const { return m_fd; }

private:
    int m_fd = -1;
};
