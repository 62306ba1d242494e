#pragma once
// The system's requests to end the program, one way of receiving them per
// system.
class QObject;

// While it lives, the system's requests to end the program (termination
// signals; console events and the end of the session on Windows) are handled
// as a close of the main window, in whatever event loop runs.
class TerminationRequests {
public:
    explicit TerminationRequests(QObject* owner);
    ~TerminationRequests();
    TerminationRequests(const TerminationRequests&) = delete;
    TerminationRequests& operator=(const TerminationRequests&) = delete;
};

// The close of the main window as the close box does it; ends the program
// even when there is no main window (yet). On the window thread.
void closeOnTermination();
