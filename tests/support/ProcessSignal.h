#pragma once

class QProcess;

// Sends signal to a child the test started, only while it runs; false when it has ended. A
// QProcess that has ended reports process id 0, and a signal to 0 reaches the whole process
// group: the test runner and whatever started it.
bool signalChild(QProcess &process, int signal);
