#include "run/DownloadThread.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "app/LocalConfig.h"
#include "planning/DigestCache.h"
#include "planning/DigestQueue.h"
#include "planning/DownloadPlan.h"
#include "planning/PartialFile.h"
#include "planning/RunningDigest.h"
#include "platform/FolderBeneath.h"
#include "platform/TextConversion.h"
#include "platform/WorkerThread.h"
#include "run/DownloadSession.h"
#include "run/DownloadWindow.h"
#include "run/Messages.h"
#include "run/MyDownloadState.h"
#include "run/RunObserver.h"
#include "run/RunReport.h"
#include "run/SourceOrder.h"
#include "transfer/TransferEngine.h"

namespace {

// The window is looked up for every operation: the close command swaps in a
// silent one to halt this thread's effects on the real window.
IDownloadWindow* Window()
{
    return g_downloadSession.mainWindow.load();
}

void SetFace(StartFace face)
{
    if (IDownloadWindow* window = Window())
        window->SetFace(face);
}

void SetStatus(const std::string& text)
{
    if (IDownloadWindow* window = Window())
        window->SetText(IDC_STATUS, text);
}

void ShowMessage(const std::string& text)
{
    if (IDownloadWindow* window = Window())
        window->Message(MessageOwner::MainWindow, text);
}

std::string WithPath(const char* format, const std::string& path)
{
    const std::string text = format;
    const auto at = text.find("%s");
    return text.substr(0, at) + EscapeControlCharacters(path) + text.substr(at + 2);
}

std::string FileInUseText(const std::string& path)
{
    return WithPath(kFileInUse, path);
}

// Shows the continue face and "下载暂停", then parks until the start command
// resumes the run.
void PauseAndPark()
{
    SetFace(StartFace::Continue);
    SetStatus(kPaused);
    g_downloadSession.pause.RequestAndPark();
}

// A failure the player is told of: its message, "E" in the trace, the
// outcome in the session, then the pause.
void Fail(int index, const std::string& path, FileResult result, const std::string& text, bool mark = true)
{
    ShowMessage(text);
    if (mark)
        AppendStep("E");
    g_downloadSession.RecordFailure(FileOutcome{index, path, result});
    PauseAndPark();
}

// A step on one of the file's names failed: a link, FIFO, device or folder
// there is named as such (something in the way, no transfer failure: no
// "E"); any other failure gets the step's own result and text.
void FailOn(int index, const PartialFile& file, PartialFile::Name name, FolderStatus status, FileResult result,
            const std::string& text, bool mark = true)
{
    const std::string path = file.FullPath(name);
    if (status.result == FolderResult::Link || status.result == FolderResult::NotRegular ||
        status.result == FolderResult::Outside)
        Fail(index, path, FileResult::NotAFile, WithPath(kNotAFile, path), false);
    else
        Fail(index, file.Path(), result, text, mark);
}

// Removes a file that has to go before a transfer. A file that cannot be
// removed is named in a message and the run pauses until the user resumes it.
void DeleteWithRetry(int index, const PartialFile& file, PartialFile::Name name)
{
    for (FolderStatus status; !(status = file.Remove(name)).Ok();)
        FailOn(index, file, name, status, FileResult::FileInUse, FileInUseText(file.FullPath(name)), false);
}

FileResult ResultOf(DownloadState state)
{
    switch (state) {
    case DownloadOk: return FileResult::Placed;
    case DownloadNetError: return FileResult::NetworkFailed;
    case DownloadFileError: return FileResult::DiskFailed;
    case DownloadStopped: return FileResult::Stopped;
    case DownloadSizeError: return FileResult::SizeFailed;
    }
    return FileResult::NetworkFailed;
}

const char* TextFor(DownloadState state)
{
    switch (state) {
    case DownloadNetError: return kNetworkFailed;
    case DownloadFileError: return kDiskFull;
    default: return kDownloadAgain;
    }
}

// A pause asked while no transfer was running (between two files, or while a
// file was being digested) would be cleared unseen by the next transfer's
// OnBegin; it is honoured here instead.
void ParkIfRequested()
{
    if (g_downloadSession.pause.Requested()) {
        SetFace(StartFace::Continue);
        SetStatus(kPaused);
        g_downloadSession.pause.ParkWhileRequested();
    }
}

// Removes what the check found stale before the first transfer of an entry.
void DropStale(int index, const PlanEntry& entry, const PartialFile& file)
{
    if (entry.localDiffers != 0)
        DeleteWithRetry(index, file, PartialFile::Name::Final);
    if (entry.partialDiffers != 0) {
        DeleteWithRetry(index, file, PartialFile::Name::Partial);
        DeleteWithRetry(index, file, PartialFile::Name::Side);
    }
}

// Takes back the bytes counted for a partial file that is dropped.
void UncountBytes(std::uint64_t dropped)
{
    std::uint64_t done = g_downloadSession.bytesDone;
    while (!g_downloadSession.bytesDone.compare_exchange_weak(done, done > dropped ? done - dropped : 0)) {
    }
}

class DownloadRound;

// The bytes in flight between the download thread and the round's hashing
// thread: a few blocks, so that a slower disk or digest holds the transfers
// back instead of growing memory.
constexpr std::size_t DigestBufferSize = 256 * 1024;
constexpr std::size_t DigestBuffers = 8;

// One needed entry of the plan on its way into place: its partial file, the
// digest of the bytes in it, and how its last transfer ended. It is the
// engine's sink for that transfer; every call runs on the download thread.
class EntryTransfer final : public ITransferSink {
public:
    enum class State { Waiting, Placed };
    // Why an entry stopped the run; None: it did not.
    // Names: something other than a regular file at one of the names.
    enum class Trouble { None, Names, Stale, SideFile, Transfer, WrongDigest, Rename };

    // beneath: the download folder held open by the download thread, which
    // makes every call on this entry.
    EntryTransfer(int index, const PlanEntry& entry, const FolderBeneath& beneath, const std::string& folder,
                  const std::string& relative)
        : m_index(index), m_entry(entry), m_file(beneath, folder, relative), m_relative(relative)
    {
    }

    int Index() const { return m_index; }
    const PlanEntry& Entry() const { return m_entry; }
    const PartialFile& File() const { return m_file; }
    // The server the next transfer goes to: source in the run's
    // SourceOrder, the URL being its base and the relative path.
    void UseSource(std::size_t source, const std::string& base)
    {
        m_source = source;
        m_url = base + m_relative;
    }
    // A new attempt at the file: the first source in the run's order, and
    // every source may be tried once more.
    void BeginAttempt(const SourceOrder& sources)
    {
        m_tried.Clear();
        const std::size_t first = sources.Next(m_tried);
        UseSource(first, sources.Base(first));
    }
    std::size_t Source() const { return m_source; }
    SourceOrder::Tried& Tried() { return m_tried; }
    // What failed when the last transfer ended DownloadNetError.
    TransferFault Fault() const { return m_fault; }
    bool Placed() const { return m_state == State::Placed; }
    DownloadState Result() const { return m_result; }
    // Why the partial file could not be opened for the last transfer, or
    // why the last rename failed; Ok when neither did.
    FolderStatus FileStatus() const { return m_fileStatus; }
    // How the file stands once its last transfer ended and was landed.
    FileOutcome Outcome() const
    {
        FileResult result = FileResult::Placed;
        if (!Placed())
            result = m_result != DownloadOk ? ResultOf(m_result)
                     : m_dropPartial        ? FileResult::WrongDigest
                                            : FileResult::FileInUse;
        return FileOutcome{m_index, m_file.Path(), result};
    }

    // Readies the files for a transfer without waiting on the player: stale
    // files and dropped bytes removed, the side file written first (so a
    // partial file never exists without the version it belongs to), the
    // digest seeded with the bytes present. Trouble::None, or what must be
    // dealt with (with a message) before it can go.
    Trouble Prepare(DigestCache* cache, TransferRequest& request);
    // The name checks and removals of Prepare (and the folders and the side
    // file when writeSide), waiting on the player for each failure as the
    // run always has (Fail parks).
    void PrepareWithPlayer(bool writeSide);

    void SetRound(DownloadRound* round) { m_round = round; }

    void OnBegin(std::uint64_t total, std::uint64_t startOffset) override;
    bool OnBlock(const char* data, std::size_t size) override;
    void OnEnd(DownloadState result) override;
    void OnFault(TransferFault fault) override { m_fault = fault; }

    // After a transfer ended DownloadOk: compares the digest of the bytes as
    // written with the listed one and renames. Trouble::None when placed.
    Trouble Land(DigestCache* cache);

private:
    int m_index;
    const PlanEntry& m_entry;
    PartialFile m_file;
    std::string m_relative;
    std::size_t m_source = 0;
    SourceOrder::Tried m_tried;
    std::string m_url;
    TransferFault m_fault = TransferFault::None;
    State m_state = State::Waiting;
    bool m_staleDropped = false;
    // Bytes of this partial file that must go before it is continued.
    bool m_dropPartial = false;
    RunningDigest m_digest;
    // The whole partial file's digest, when the cache knew it.
    std::optional<std::string> m_wholeDigest;
    PartialAppender m_out;
    bool m_fileFailed = false;
    FolderStatus m_fileStatus;
    DownloadState m_result = DownloadOk;
    DownloadRound* m_round = nullptr;
};

// One pass of the engine over the entries still waiting: up to the engine's
// connection count at once, the next one added as one ends. The first
// trouble stops every transfer at its next block and is kept for the run to
// show; a pause click stops them the same way (MyDownloadState::RequestStop).
class DownloadRound {
public:
    DownloadRound(TransferEngine& engine, MyDownloadState& progress, DigestCache* cache,
                  std::vector<EntryTransfer*> waiting, int connections, SourceOrder& sources)
        : m_engine(engine), m_progress(progress), m_cache(cache), m_waiting(std::move(waiting)),
          m_connections(connections), m_sources(sources)
    {
    }

    // Drives the transfers until each has ended or been stopped.
    void Run()
    {
        for (EntryTransfer* entry : m_waiting)
            entry->SetRound(this);
        // The hashing thread lives while the transfers do: a round that goes
        // on to wait for the player has none left.
        m_digests.emplace(DigestBufferSize, DigestBuffers);
        for (int i = 0; i < m_connections; ++i)
            AddNext();
        {
            std::lock_guard driving(g_downloadSession.EngineDriver());
            m_engine.Run();
        }
        m_digests.reset();
    }

    // The entries forget the round even when Run was left by an exception,
    // so a transfer ending later never reaches a round that is gone.
    ~DownloadRound()
    {
        for (EntryTransfer* entry : m_waiting)
            entry->SetRound(nullptr);
    }
    DownloadRound(const DownloadRound&) = delete;
    DownloadRound& operator=(const DownloadRound&) = delete;

    // The entry that stopped the round and why, if one did.
    EntryTransfer* Troubled() const { return m_troubled; }
    EntryTransfer::Trouble TroubleOf() const { return m_trouble; }

    MyDownloadState& Progress() { return m_progress; }
    // Hashes the entries' blocks beside the transfers; only during Run.
    DigestQueue& Digests() { return *m_digests; }

    // Called by an entry whose transfer ended.
    void Ended(EntryTransfer& entry)
    {
        if (entry.Result() == DownloadOk) {
            const auto trouble = entry.Land(m_cache);
            if (trouble != EntryTransfer::Trouble::None)
                Stop(entry, trouble);
        } else if (entry.Result() == DownloadNetError && GoElsewhere(entry)) {
            // The entry keeps its place among the transfers.
            return;
        } else if (entry.Result() != DownloadStopped) {
            Stop(entry, EntryTransfer::Trouble::Transfer);
        }
        ReportFileEnded(entry.Outcome());
        AddNext();
    }

private:
    void Stop(EntryTransfer& entry, EntryTransfer::Trouble trouble)
    {
        if (m_troubled == nullptr) {
            m_troubled = &entry;
            m_trouble = trouble;
        }
        m_engine.StopAll();
    }

    void AddNext()
    {
        if (m_next >= m_waiting.size() || m_troubled != nullptr || m_progress.StopRequested())
            return;
        EntryTransfer& entry = *m_waiting[m_next++];
        entry.BeginAttempt(m_sources);
        Launch(entry, true);
    }

    // Readies the entry and hands it to the engine; trouble on the way stops
    // the round. first: the file's first source in this round, whose start
    // is told (a move to the next source is the same file going on).
    void Launch(EntryTransfer& entry, bool first)
    {
        TransferRequest request;
        const auto trouble = entry.Prepare(m_cache, request);
        if (trouble != EntryTransfer::Trouble::None) {
            Stop(entry, trouble);
            return;
        }
        g_downloadSession.currentEntry = entry.Index();
        if (first)
            ReportFileStarted(entry.Index(), entry.File().Path(), entry.Entry().size);
        m_engine.Add(request, entry);
        // A pause clicked while it was added must stop it as well.
        if (m_progress.StopRequested())
            m_engine.StopAll();
    }

    // A transfer that failed on the network goes on at the next source this
    // attempt has not tried, from the bytes it has (the partial file is kept
    // as after any failure). False when no source is left: the failure is
    // the player's to see. With one source it is always false, as the run
    // had it before mirrors.
    bool GoElsewhere(EntryTransfer& entry)
    {
        if (m_sources.Count() < 2)
            return false;
        m_sources.Failed(entry.Source(), entry.Fault());
        entry.Tried().Add(entry.Source());
        const std::size_t next = m_sources.Next(entry.Tried());
        if (next == m_sources.Count())
            return false;
        // A round that is stopping leaves the entry waiting; the next round
        // begins it again from the first source.
        if (m_troubled != nullptr || m_progress.StopRequested())
            return true;
        entry.UseSource(next, m_sources.Base(next));
        Launch(entry, false);
        return true;
    }

    TransferEngine& m_engine;
    MyDownloadState& m_progress;
    DigestCache* m_cache;
    std::vector<EntryTransfer*> m_waiting;
    int m_connections;
    SourceOrder& m_sources;
    std::size_t m_next = 0;
    EntryTransfer* m_troubled = nullptr;
    EntryTransfer::Trouble m_trouble = EntryTransfer::Trouble::None;
    // Last, so that it is gone (every queued block hashed, its thread
    // joined) before anything else of the round, also when Run is left by
    // an exception.
    std::optional<DigestQueue> m_digests;
};

EntryTransfer::Trouble EntryTransfer::Prepare(DigestCache* cache, TransferRequest& request)
{
    // A link, FIFO, device or folder at one of the names is never opened,
    // removed or followed.
    PartialFile::Name which = PartialFile::Name::Final;
    if (!m_file.CheckNames(which).Ok())
        return Trouble::Names;
    using Name = PartialFile::Name;
    if (!m_staleDropped) {
        if ((m_entry.localDiffers != 0 && !m_file.Remove(Name::Final).Ok()) ||
            (m_entry.partialDiffers != 0 && (!m_file.Remove(Name::Partial).Ok() || !m_file.Remove(Name::Side).Ok())))
            return Trouble::Stale;
        m_staleDropped = true;
    }
    if (m_dropPartial) {
        if (!m_file.Remove(Name::Partial).Ok() || !m_file.Remove(Name::Side).Ok())
            return Trouble::WrongDigest;
        m_dropPartial = false;
        m_digest.Reset();
    }
    // A file already in hand is written whole at once; the side file, which
    // tells a later run what a partial file belongs to, is for the others.
    if (!m_file.MakeFolders().Ok() || (m_entry.body == nullptr && !m_file.WriteSideFile(m_entry.md5).Ok()))
        return Trouble::SideFile;

    std::uint64_t start = m_file.PartialLength();
    const std::uint64_t size = m_entry.size;
    // Longer than the file can be is no beginning of it: begin again.
    if (size != 0 && start > size) {
        m_file.TruncatePartial();
        start = 0;
    }
    m_wholeDigest.reset();
    if (start == 0) {
        m_digest.Reset();
    } else if (m_digest.Length() != start) {
        // A whole partial file the cache knows needs no reading at all;
        // any other prefix is hashed once, here, before more is appended.
        const auto identity = cache != nullptr && start == size ? m_file.PartialIdentity() : std::nullopt;
        if (identity)
            m_wholeDigest = cache->Find(*identity);
        if (!m_wholeDigest && !m_file.SeedDigest(m_digest, start)) {
            m_file.TruncatePartial();
            start = 0;
        }
    }
    request.url = m_url;
    request.startOffset = start;
    // Where the check learnt the size, no probe is sent; where it received
    // the whole file, no request at all.
    request.knownSize = size;
    request.body = m_entry.body;
    m_fileFailed = false;
    m_fileStatus = FolderStatus{};
    m_result = DownloadOk;
    m_fault = TransferFault::None;
    return Trouble::None;
}

void EntryTransfer::PrepareWithPlayer(bool writeSide)
{
    PartialFile::Name which = PartialFile::Name::Final;
    for (FolderStatus status; !(status = m_file.CheckNames(which)).Ok();)
        FailOn(m_index, m_file, which, status, FileResult::DiskFailed, kDiskFull);
    if (!m_staleDropped) {
        DropStale(m_index, m_entry, m_file);
        m_staleDropped = true;
    }
    if (m_dropPartial) {
        DeleteWithRetry(m_index, m_file, PartialFile::Name::Partial);
        DeleteWithRetry(m_index, m_file, PartialFile::Name::Side);
        m_dropPartial = false;
        m_digest.Reset();
    }
    while (writeSide) {
        if (const FolderStatus status = m_file.MakeFolders(); !status.Ok()) {
            FailOn(m_index, m_file, PartialFile::Name::Final, status, FileResult::DiskFailed, kDiskFull);
            continue;
        }
        if (const FolderStatus status = m_file.WriteSideFile(m_entry.md5); !status.Ok()) {
            FailOn(m_index, m_file, PartialFile::Name::Side, status, FileResult::DiskFailed, kDiskFull);
            continue;
        }
        break;
    }
}

void EntryTransfer::OnBegin(std::uint64_t, std::uint64_t startOffset)
{
    m_wholeDigest.reset();
    m_fileStatus = m_file.OpenForAppend(m_out);
    if (!m_fileStatus.Ok() || !m_out.IsOpen()) {
        m_fileFailed = true;
        return;
    }
    // The whole file again: never appended to the bytes present.
    if (startOffset == 0 && m_digest.Length() + m_file.PartialLength() > 0) {
        m_digest.Reset();
        if (!m_out.Restart())
            m_fileFailed = true;
    }
}

bool EntryTransfer::OnBlock(const char* data, std::size_t size)
{
    if (m_fileFailed || !m_out.Append(data, size)) {
        m_fileFailed = true;
        return false;
    }
    // Hashed on the round's thread; settled in OnEnd.
    m_round->Digests().Update(m_digest, data, size);
    // As a single transfer always did: a block written after the pause was
    // asked is kept but not counted.
    MyDownloadState& progress = m_round->Progress();
    if (progress.ShouldStop() != 0)
        return false;
    progress.OnProgress(m_entry.size, size);
    return true;
}

void EntryTransfer::OnEnd(DownloadState result)
{
    m_out = PartialAppender();
    m_result = m_fileFailed ? DownloadFileError : result;
    if (m_round != nullptr) {
        // Every byte written is in the digest before anyone reads it.
        m_round->Digests().Settle(m_digest);
        m_round->Ended(*this);
    }
}

EntryTransfer::Trouble EntryTransfer::Land(DigestCache* cache)
{
    // The bytes were digested as they were written; a partial file that is
    // not exactly those bytes is read once more instead.
    std::string digest = m_wholeDigest.value_or(std::string());
    bool matches = false;
    if (!digest.empty()) {
        matches = CompareDigestTextIgnoringCase(digest.data(), m_entry.md5) == 0;
    } else if (m_digest.Length() == m_file.PartialLength()) {
        digest = m_digest.Hex();
        matches = CompareDigestTextIgnoringCase(digest.data(), m_entry.md5) == 0;
    } else {
        matches = m_file.PartialMatches(m_entry.md5);
        digest.clear();
    }
    if (!matches) {
        // Wrong bytes: they must not become the file, and a resume must not
        // continue them. The bytes counted for them are taken back.
        UncountBytes(m_file.PartialLength());
        m_dropPartial = true;
        m_digest.Reset();
        m_file.TruncatePartial();
        return Trouble::WrongDigest;
    }
    // The complete partial file is kept until the rename succeeds.
    m_fileStatus = m_file.Commit();
    if (!m_fileStatus.Ok())
        return Trouble::Rename;
    m_state = State::Placed;
    if (cache != nullptr && !digest.empty()) {
        if (const auto identity = m_file.FinalIdentity()) {
            cache->Remember(*identity, digest);
            cache->SaveAtMostEvery(std::chrono::seconds(1));
        }
    }
    return Trouble::None;
}

// Shows what stopped the round and waits on the player as a single
// transfer's failure always did; the failed step is repeated by the next
// round.
void DealWith(EntryTransfer& entry, EntryTransfer::Trouble trouble, DigestCache* cache)
{
    const int index = entry.Index();
    const PartialFile& file = entry.File();
    switch (trouble) {
    case EntryTransfer::Trouble::None:
        return;
    case EntryTransfer::Trouble::Names:
    case EntryTransfer::Trouble::Stale:
    case EntryTransfer::Trouble::SideFile:
        entry.PrepareWithPlayer(true);
        return;
    case EntryTransfer::Trouble::Transfer:
        if (!entry.FileStatus().Ok())
            FailOn(index, file, PartialFile::Name::Partial, entry.FileStatus(), ResultOf(entry.Result()),
                   TextFor(entry.Result()));
        else
            Fail(index, file.Path(), ResultOf(entry.Result()), TextFor(entry.Result()));
        return;
    case EntryTransfer::Trouble::WrongDigest:
        entry.PrepareWithPlayer(false);
        Fail(index, file.Path(), FileResult::WrongDigest, kDownloadAgain);
        return;
    case EntryTransfer::Trouble::Rename:
        while (entry.Land(cache) == EntryTransfer::Trouble::Rename)
            FailOn(index, file, PartialFile::Name::Final, entry.FileStatus(), FileResult::FileInUse,
                   FileInUseText(file.Path()), false);
        ReportFileEnded(entry.Outcome());
        return;
    }
}

} // namespace

int CurrentDownloadEntry()
{
    return g_downloadSession.currentEntry;
}

int DownloadThreadProc()
{
    DownloadSession& session = g_downloadSession;
    if (std::shared_ptr<WorkerThread> check = session.CheckThread())
        check->Wait();

    // The plan is read once the check is over, and kept for the whole run.
    const std::shared_ptr<const PlannedFiles> plan = session.Plan();
    const int connections = Window() != nullptr ? Window()->Config().m_connections : DefaultConnections;
    const std::shared_ptr<TransferEngine> engine = session.Engine(connections);
    MyDownloadState* progress = session.NewProgress();
    progress->AttachEngine(engine.get());
    session.activeProgress = progress;

    if (IDownloadWindow* window = Window())
        window->Show(IDC_BROWSE, false);
    SetFace(StartFace::Pause);

    const std::string folder = session.DownloadFolder();
    // The list's own base URL, then the mirrors of config.ini.
    std::vector<std::string> bases {session.FileBaseUrl()};
    if (IDownloadWindow* window = Window()) {
        const LocalConfig& config = window->Config();
        bases.insert(bases.end(), config.m_mirrors.begin(), config.m_mirrors.end());
    }
    SourceOrder sources(bases);
    const std::shared_ptr<DigestCache> cache = session.Digests(folder);
    // Every file of the run is reached beneath this one open folder; the
    // engine calls the entries' sinks on this thread only.
    const FolderBeneath beneath(folder.empty() ? std::string("./") : folder);
    std::vector<std::unique_ptr<EntryTransfer>> entries;
    const int count = plan != nullptr ? plan->FileCount() : 0;
    for (int i = 0; i < count; ++i) {
        const PlanEntry& entry = plan->entries[static_cast<std::size_t>(i)];
        if (entry.needed == 0)
            continue;
        // The path relative to the download folder, as listed.
        const std::string relative =
            entry.path.size() >= folder.size() ? entry.path.substr(folder.size()) : entry.path;
        entries.push_back(std::make_unique<EntryTransfer>(i, entry, beneath, folder, relative));
    }

    for (;;) {
        std::vector<EntryTransfer*> waiting;
        for (const auto& entry : entries) {
            if (!entry->Placed())
                waiting.push_back(entry.get());
        }
        if (waiting.empty())
            break;
        ParkIfRequested();
        // Clears the stop of the last pause unless a new one is asked.
        progress->OnBegin(0, 0);
        try {
            DownloadRound round(*engine, *progress, cache.get(), std::move(waiting), connections, sources);
            round.Run();
            if (cache != nullptr)
                cache->Save();
            if (EntryTransfer* troubled = round.Troubled()) {
                DealWith(*troubled, round.TroubleOf(), cache.get());
            } else if (session.pause.Requested()) {
                // A pause click stopped the transfers; a resume that came in
                // between leaves nothing to wait for.
                SetFace(StartFace::Continue);
                SetStatus(kPaused);
                session.pause.ParkWhileRequested();
            }
        } catch (const std::exception&) {
            // Out of memory or worse: said, and what is not placed is tried
            // again on continue.
            engine->StopAll();
            const int index = session.currentEntry;
            Fail(index, index >= 0 ? plan->entries[static_cast<std::size_t>(index)].path : folder, FileResult::Failed,
                 kRunFailed);
        }
    }
    session.currentEntry = -1;
    if (cache != nullptr)
        cache->Save();

    session.DropPlan();
    session.installerReady = 1;
    SetFace(StartFace::Install);
    SetStatus(kComplete);
    AppendStep("D");
    SendMachineInfo("D");

    session.activeProgress = nullptr;
    progress->AttachEngine(nullptr);
    return 0;
}
