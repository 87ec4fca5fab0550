#include "app/StepTrace.h"

#include "platform/ReportLibrary.h"

namespace {

constexpr const char* kReportIniPath = ".//sysinfo.ini";

} // namespace

void StepTrace::Append(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_text += text;
}

std::string StepTrace::Text() const
{
    std::lock_guard lock(m_mutex);
    return m_text;
}

void StepTrace::Clear()
{
    std::lock_guard lock(m_mutex);
    m_text.clear();
}

void SendMachineInfo(const std::string& utf8Version, const std::string& text)
{
    (void)CallReportLibrary(kReportIniPath, utf8Version, text, 5, 10, 0);
}
