#pragma once

#include <mutex>
#include <string>

// The step trace: one-letter marks of the path a run took (S B P R E D I C),
// appended from any thread, never cleared while the run lives. The lock is
// held only while the text is appended to or copied, never across a call that
// can block, so the final report can always take it.
class StepTrace {
public:
    void Append(const std::string& text);
    std::string Text() const;
    // Back to empty (a new run in the same process: tests).
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::string m_text;
};

// Hands one text to the report library (libsysrep.so, GetAndSendMachineInfo)
// with ".//sysinfo.ini", the list version (UTF-8), the text and 5, 10, 0.
// Does nothing when the library or its symbol is missing. Blocks while it
// runs.
void SendMachineInfo(const std::string& utf8Version, const std::string& text);
