#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "Exception.h"
#include "TaskThread.h"
#include "TransferTypes.h"

// The failure of a transfer, with its result code. Thrown and caught inside Run.
class CInetFileException : public CException {
public:
    explicit CInetFileException(std::uint32_t code) : m_code(code) {}
    std::uint32_t Code() const noexcept { return m_code; }
    std::wstring Describe() const override { return L"transfer failed with code " + std::to_wstring(m_code); }

private:
    std::uint32_t m_code;
};

// One HTTP GET of one URL into one local file, on a worker thread of its own. It
// reports by posted messages only: WM_TRANSFER_PROGRESS after every block and one
// WM_TRANSFER_DONE at the end of every run. Deleting it cancels a running
// transfer and waits for its thread.
class CInetFile : public CTaskThread {
public:
    CInetFile();
    ~CInetFile() override;

    // Counts the start, waits for an earlier run, clears Cancel, Result and
    // WroteLocalFile and starts the worker thread; true when the thread runs.
    bool Start();
    void Run() override;

    // Filled by the creator before the transfer is queued; read by the driver.
    std::wstring ErrorText;
    std::int32_t Kind = KIND_FILE;
    std::wstring TargetPath;
    std::wstring FileName;
    std::wstring URL;
    HWND NotifyWindow = nullptr;
    std::wstring ServerName;
    std::atomic<bool> Cancel{false};
    std::int32_t StartCount = 0;
    std::atomic<std::int32_t> BytesReceived{0};
    std::int32_t ExpectedLength = 0;
    bool Register = false;
    bool ZipFile = false;
    bool ForceOverwrite = false;
    bool Execute = false;
    std::wstring ExecutePar;

    // The result code of the last run, stored just before its completion notice
    // is posted; TRANSFER_PENDING until then. The driver takes it once, so that
    // only the transfer's own end is acted on: a notice that another program
    // posts, or a second one, finds nothing to take.
    std::atomic<std::uint32_t> Result{TRANSFER_PENDING};
    // Whether the last run created (or emptied) its local file: only then is a
    // file left at that path the run's own.
    std::atomic<bool> WroteLocalFile{false};

    // The local path the body is written to: TargetPath, with ".update" for a file.
    std::wstring LocalPath() const;

private:
    void Transfer();
    void CreateFolders(const std::wstring& path);
    void PostDone(std::uint32_t code);

    char m_buffer[TRANSFER_BLOCK_SIZE];
};

// The texts a transfer leaves in ErrorText.
extern const wchar_t* const TEXT_CONNECT_FAILED;
extern const wchar_t* const TEXT_BAD_URL;
extern const wchar_t* const TEXT_BAD_STATUS;
extern const wchar_t* const TEXT_LOCAL_FILE;
