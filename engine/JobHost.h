#pragma once

#include <string>

// What a job needs from the window that runs it. The engine sees no widget: the window lends it
// these few services, and the tests and the console driver lend their own.
class TJobHost {
public:
    virtual ~TJobHost() = default;

    // Adds one message to the log; a CR LF inside it starts a second line.
    virtual void Log(const std::string& message) = 0;
    virtual void ClearLog() = 0;
    // Replaces the status line.
    virtual void Status(const std::string& text) = 0;
    // The destination directory as the user set it, with or without a trailing separator.
    virtual std::string Destination() const = 0;
    // The proxy port as typed into the proxy dialog; empty when no proxy is used.
    virtual std::string ProxyPortText() const = 0;
    // True once the user cancelled the running job (or the window is closing).
    virtual bool Cancelled() const = 0;
    // Lets the window handle what is pending (Cancel, shortcuts, the timer) during a long job.
    virtual void ProcessMessages() = 0;

    // The pause after each fetched file: whether it is on, and its length in seconds.
    virtual bool PauseEnabled() const = 0;
    virtual int PauseSeconds() const = 0;
    // Blocks the thread, handling nothing meanwhile.
    virtual void BlockThread(int milliseconds);
    // The pause after a fetched file. Without a window it blocks the thread; a window keeps
    // handling its events meanwhile and ends the pause at once when the job is cancelled.
    virtual void PauseBetweenFiles(int milliseconds) { BlockThread(milliseconds); }

    // The member login: its switch, user name and password.
    virtual bool LoginEnabled() const = 0;
    virtual std::string LoginUser() const = 0;
    virtual std::string LoginPassword() const = 0;

    // The set number field of Get Inst..., as typed.
    virtual std::string SetNumberText() const = 0;

    // The batch list puts an ID into the folder or user field and starts that job as a click on
    // its button would; the job has run to its end (or stopped) when these return.
    virtual void StartGetById(const std::string& folderId) = 0;
    virtual void StartGetByUser(const std::string& userId) = 0;
};
