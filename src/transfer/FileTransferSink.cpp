#include "transfer/FileTransferSink.h"

#include "transfer/TransferError.h"

bool FileTransferSink::Open(const std::string& path)
{
    return m_file.Open(path);
}

std::uint64_t FileTransferSink::Length() const
{
    try {
        return m_file.Length();
    } catch (const TransferError&) {
        return 0;
    }
}

void FileTransferSink::OnBegin(std::uint64_t total, std::uint64_t startOffset)
{
    if (!m_pathAtBegin.empty() && !m_file.Open(m_pathAtBegin))
        m_fileFailed = true;
    try {
        if (!m_fileFailed && startOffset == 0)
            m_file.Truncate();
        else if (!m_fileFailed)
            m_file.SeekToEnd();
    } catch (const TransferError&) {
        m_fileFailed = true;
    }
    if (m_hooks.begin)
        m_hooks.begin(total, startOffset);
}

bool FileTransferSink::OnBlock(const char* data, std::size_t size)
{
    if (m_fileFailed)
        return false;
    try {
        m_file.Write(data, size);
    } catch (const TransferError&) {
        m_fileFailed = true;
        return false;
    }
    return !m_hooks.written || m_hooks.written(data, size);
}

void FileTransferSink::OnEnd(DownloadState result)
{
    m_file.Close();
    m_result = m_fileFailed ? DownloadFileError : result;
    m_ended = true;
    if (m_hooks.end)
        m_hooks.end(m_result);
}
