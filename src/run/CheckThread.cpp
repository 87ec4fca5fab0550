#include "run/CheckThread.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <optional>
#include <sstream>
#include <unordered_map>

#include "app/LocalConfig.h"
#include "app/SignedSequenceStore.h"
#include "planning/DigestCache.h"
#include "planning/DownloadPlan.h"
#include "planning/Minisign.h"
#include "planning/PresentFileDigests.h"
#include "planning/ServerLists.h"
#include "platform/Drives.h"
#include "platform/FolderBeneath.h"
#include "platform/PathExists.h"
#include "platform/TextConversion.h"
#include "run/DownloadSession.h"
#include "run/DownloadWindow.h"
#include "run/Messages.h"
#include "run/RunReport.h"
#include "transfer/TransferEngine.h"
#include "transfer/UrlToFile.h"

namespace {

// The list URL with the current time as a query value ("%s?t=%d"), so that no
// cache between us and the server answers with an old list.
std::string ListUrl(const std::string& configured)
{
    const auto now = static_cast<std::int32_t>(static_cast<std::uint32_t>(std::time(nullptr)));
    return configured + "?t=" + std::to_string(now);
}

// The window of the session at each call, not the one the run started
// with: the close command swaps in a silent window to halt what a run still
// going would do to the real one.
IDownloadWindow* Window()
{
    return g_downloadSession.mainWindow.load();
}

void SetText(int control, const std::string& text)
{
    if (IDownloadWindow* window = Window())
        window->SetText(control, text);
}

void Enable(int control, bool enabled)
{
    if (IDownloadWindow* window = Window())
        window->Enable(control, enabled);
}

void Show(int control, bool shown)
{
    if (IDownloadWindow* window = Window())
        window->Show(control, shown);
}

void SetFace(StartFace face)
{
    if (IDownloadWindow* window = Window())
        window->SetFace(face);
}

void ShowMessage(MessageOwner owner, const std::string& text)
{
    if (IDownloadWindow* window = Window())
        window->Message(owner, text);
}

CheckResult Refused(const std::string& folder, const ListRefusal& refusal)
{
    CheckResult result;
    result.outcome = CheckOutcome::ListRefused;
    result.folder = folder;
    result.refusal = CheckRefusal{refusal.list, refusal.lineNumber, refusal.fault, refusal.nameFault, refusal.name};
    return result;
}

CheckResult Ended(CheckOutcome outcome, const std::string& folder)
{
    CheckResult result;
    result.outcome = outcome;
    result.folder = folder;
    return result;
}

// A list is read from memory: it never touches the download folder, so no
// link planted there can take it anywhere.
ListFetch FetchList(const std::string& configured, std::string& body)
{
    return UrlToText(ListUrl(configured), MaxListBytes, body);
}

CheckResult SignatureRefused(const std::string& folder, SignatureRefusal refusal)
{
    CheckResult result = Ended(CheckOutcome::SignatureRefused, folder);
    result.signature = refusal;
    return result;
}

SignatureRefusal RefusalOf(SignatureCheck check)
{
    switch (check) {
    case SignatureCheck::Ok: return SignatureRefusal::None;
    case SignatureCheck::TooLarge: return SignatureRefusal::TooLarge;
    case SignatureCheck::Malformed: return SignatureRefusal::Malformed;
    case SignatureCheck::OtherKey: return SignatureRefusal::OtherKey;
    case SignatureCheck::BadSignature:
    case SignatureCheck::BadGlobalSignature: return SignatureRefusal::NotMatching;
    case SignatureCheck::NoSequence:
    case SignatureCheck::BadSequence: return SignatureRefusal::NoSequence;
    }
    return SignatureRefusal::Malformed;
}

SignatureRefusal RefusalOf(SequenceDecision decision)
{
    switch (decision) {
    case SequenceDecision::Accept: return SignatureRefusal::None;
    case SequenceDecision::RefuseLower: return SignatureRefusal::Rollback;
    case SequenceDecision::RefuseSameSeqOtherBytes: return SignatureRefusal::SameSequenceOtherLists;
    case SequenceDecision::RefuseStoreDamaged: return SignatureRefusal::StoreDamaged;
    }
    return SignatureRefusal::StoreDamaged;
}

// One fetched list against its signature, fetched from beside it on the
// server: the seq:N it carries when it holds.
SignatureRefusal VerifyList(const std::string& configured, const std::string& listBytes,
                            const MinisignPublicKey& key, std::uint64_t& sequence)
{
    std::string signature;
    const ListFetch fetched = UrlToMemory(ListUrl(configured + ".minisig"), kMinisigMaxBytes, signature);
    if (fetched == ListFetch::TooLarge)
        return SignatureRefusal::TooLarge;
    if (fetched != ListFetch::Fetched)
        return SignatureRefusal::Missing;
    const ListSignatureResult verified = VerifyListSignature(listBytes, signature, key);
    sequence = verified.sequence;
    return RefusalOf(verified.check);
}

// With a public key configured, the fetched lists are read only when each
// holds against its signature, both carry the same seq:N and that release
// is not older than (nor a replacement of) one accepted before; the release
// is then recorded. A result when they must not be read.
std::optional<CheckResult> RefuseUnsignedLists(const MinisignPublicKey& key, const LocalConfig& config,
                                               const std::string& folder, const std::string& updateBytes,
                                               const std::string& setupBytes)
{
    std::uint64_t updateSequence = 0;
    std::uint64_t setupSequence = 0;
    SignatureRefusal refusal = VerifyList(config.m_strUpdate, updateBytes, key, updateSequence);
    if (refusal == SignatureRefusal::None)
        refusal = VerifyList(config.m_strSetup, setupBytes, key, setupSequence);
    if (refusal == SignatureRefusal::None && updateSequence != setupSequence)
        refusal = SignatureRefusal::SequenceMismatch;
    if (refusal != SignatureRefusal::None)
        return SignatureRefused(folder, refusal);

    ISignedSequenceStore& store = g_downloadSession.environment.SequenceStore();
    const std::string keyId = KeyIdText(key.keyId);
    const AcceptedRelease release{updateSequence, SignedListsDigest(updateBytes, setupBytes)};
    refusal = RefusalOf(DecideSequence(store, keyId, release.sequence, release.listsDigest));
    if (refusal != SignatureRefusal::None)
        return SignatureRefused(folder, refusal);
    // Genuine lists are used even when the record cannot be written (a
    // read-only home): the next run then guards against the older record.
    (void)store.Write(keyId, release);
    return std::nullopt;
}

// The listed digest of the installer when it is one of the listed files.
std::optional<std::array<char, 32>> InstallerDigest(const PlannedFiles& plan, const std::string& installerPath)
{
    for (const PlanEntry& entry : plan.entries) {
        if (entry.path == installerPath)
            return entry.md5;
    }
    return std::nullopt;
}

// One check of one folder.
CheckResult CheckFolder(const LocalConfig& config, const std::string& folder)
{
    DownloadSession& session = g_downloadSession;

    // The remembered folder may have been removed since the window chose it.
    if (!folder.empty() && !PathExists(folder))
        return Ended(CheckOutcome::FolderGone, folder);

    session.ResetPlan();
    session.SetInstallerListedDigest(std::nullopt);
    Enable(IDC_START, false);
    Enable(IDC_BROWSE, false);
    SetText(IDC_STATUS, kChecking);

    std::optional<MinisignPublicKey> publicKey;
    if (!config.m_strPubkey.empty()) {
        publicKey = ParsePublicKey(config.m_strPubkey);
        if (!publicKey)
            return SignatureRefused(folder, SignatureRefusal::BadPublicKey);
    }

    std::string updateText;
    std::string setupText;
    if (FetchList(config.m_strUpdate, updateText) != ListFetch::Fetched ||
        FetchList(config.m_strSetup, setupText) != ListFetch::Fetched)
        return Ended(CheckOutcome::ListsNotFetched, folder);
    if (publicKey) {
        if (auto refused = RefuseUnsignedLists(*publicKey, config, folder, updateText, setupText))
            return *refused;
    }

    std::string installerName;
    {
        std::istringstream setupList(std::move(setupText));
        if (const auto refusal = ReadSetupList(setupList, installerName))
            return Refused(folder, *refusal);
    }
    session.SetInstallerPath(folder + ListedNameToLocalPath(LocaleToUtf8(installerName)));

    // Every line is looked at before anything is made on disk.
    UpdateList list;
    {
        std::istringstream updateList(std::move(updateText));
        if (const auto refusal = ReadUpdateList(updateList, list))
            return Refused(folder, *refusal);
    }
    const UpdateListHead& head = list.head;
    if (!head.Available())
        return Ended(CheckOutcome::Maintenance, folder);
    session.SetListVersion(head.version);
    SetText(IDC_VERSION, kVersionLabel + LocaleToUtf8(head.version));
    session.SetFileBaseUrl(head.baseUrl);

    // The folder is held open for the whole plan; no file is reached by path.
    const FolderBeneath beneath(folder.empty() ? std::string("./") : folder);
    auto plan = std::make_shared<const PlannedFiles>(
        PlanFilesInParallel(config.m_connections, beneath, folder, head.baseUrl, list.files, config.m_mirrors));
    const std::uint64_t needed = plan->bytesToFetch;
    const bool anyNeeded = plan->AnyNeeded();
    session.SetInstallerListedDigest(InstallerDigest(*plan, session.InstallerPath()));
    const std::string unwritablePath = plan->unwritablePath;
    const bool unwritable = !plan->unwritable.Ok();
    session.SetPlan(std::move(plan));
    if (unwritable) {
        CheckResult result = Ended(CheckOutcome::ListsNotWritten, folder);
        result.unwritablePath = unwritablePath;
        return result;
    }

    if (needed != 0 && !folder.empty()) {
        // A failed query cannot tell; the download then meets a full disk
        // with its own message.
        const auto free = session.environment.Drives().FreeBytes(folder);
        if (free && *free <= needed) {
            CheckResult result = Ended(CheckOutcome::NoSpace, folder);
            result.bytesNeeded = needed;
            result.bytesFree = *free;
            return result;
        }
    }
    return Ended(anyNeeded ? CheckOutcome::Ready : CheckOutcome::NothingToFetch, folder);
}

// Space is short: the run gives the folder up and forgets it.
void GiveUpFolder(const LocalConfig& config)
{
    DownloadSession& session = g_downloadSession;
    session.SetDownloadFolder({});
    session.folderFromRegistry = 0;
    session.checkFinished = 0;
    session.totalBytes = 0;
    session.bytesToFetch = 0;
    StoreFolder(session.environment.FolderStore(), config.m_strRegKey, {});
}

// A folder the run chose itself moves to the first fixed drive with more
// room than needed. The new folder, or nothing when no drive has the room.
std::optional<std::string> MoveDefaultedFolder(const LocalConfig& config, std::uint64_t needed)
{
    const IDrives& drives = g_downloadSession.environment.Drives();
    for (const DriveRoot& drive : drives.List()) {
        if (drive.type != DriveType::Fixed)
            continue;
        const auto free = drives.FreeBytes(drive.root);
        if (!free || *free <= needed)
            continue;
        const std::string folder = drive.root + config.m_strDir + "/";
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        return folder;
    }
    return std::nullopt;
}

const char* SignatureRefusalText(SignatureRefusal refusal)
{
    switch (refusal) {
    case SignatureRefusal::BadPublicKey: return kSignatureBadPublicKey;
    case SignatureRefusal::Missing: return kSignatureMissing;
    case SignatureRefusal::TooLarge: return kSignatureTooLarge;
    case SignatureRefusal::Malformed: return kSignatureMalformed;
    case SignatureRefusal::OtherKey: return kSignatureOtherKey;
    case SignatureRefusal::NoSequence: return kSignatureNoSequence;
    case SignatureRefusal::SequenceMismatch: return kSignatureSequenceMismatch;
    case SignatureRefusal::Rollback: return kSignatureRollback;
    case SignatureRefusal::SameSequenceOtherLists: return kSignatureSameSequence;
    case SignatureRefusal::StoreDamaged: return kSignatureStoreDamaged;
    case SignatureRefusal::None:
    case SignatureRefusal::NotMatching: break;
    }
    return kSignatureNotMatching;
}

// A message text with "%d" or "%s" filled in.
std::string Filled(const char* format, const std::string& value)
{
    const std::string text = format;
    const auto at = text.find('%');
    return at == std::string::npos ? text : text.substr(0, at) + value + text.substr(at + 2);
}

const char* NameFaultText(NameFault fault)
{
    switch (fault) {
    case NameFault::Empty:
    case NameFault::EndsWithSeparator: return kNameWithoutFile;
    case NameFault::Absolute: return kNameAbsolute;
    case NameFault::DriveLetter: return kNameDriveLetter;
    case NameFault::ParentComponent: return kNameParent;
    case NameFault::EmptyComponent: return kNameEmptyLevel;
    case NameFault::DotComponent: return kNameDot;
    case NameFault::ControlCharacter:
    case NameFault::None: break;
    }
    return kNameControl;
}

// The refused list, where and why; a listed name is shown with its control
// characters escaped.
std::string RefusalText(const CheckRefusal& refusal)
{
    const std::string line = std::to_string(refusal.line);
    const std::string name = EscapeControlCharacters(LocaleToUtf8(refusal.name));
    std::string text = std::string(kListRefused) + refusal.list;
    switch (refusal.fault) {
    case ListFault::ListTooLong: return text + Filled(kListTooLong, line);
    case ListFault::LineTooLong: return text + Filled(kListLineTooLong, line);
    case ListFault::BadDigest: return text + Filled(kListBadDigest, line) + name;
    case ListFault::UnsafeName:
    case ListFault::None: break;
    }
    return text + Filled(kListNameAtLine, line) + NameFaultText(refusal.nameFault) + kListNameOutside + name;
}

} // namespace

CheckResult RunCheck()
{
    DownloadSession& session = g_downloadSession;
    IDownloadWindow* const first = Window();
    if (first == nullptr)
        return {};
    const LocalConfig config = first->Config();

    CheckResult result = CheckFolder(config, session.DownloadFolder());
    while (result.outcome == CheckOutcome::NoSpace) {
        GiveUpFolder(config);
        if (session.folderDefaulted == 0)
            break;
        const auto moved = MoveDefaultedFolder(config, result.bytesNeeded);
        if (!moved)
            break;
        session.folderDefaulted = 0;
        session.SetDownloadFolder(*moved);
        SetText(IDC_FOLDER, " " + *moved);
        result = CheckFolder(config, *moved);
    }
    session.SetLastCheck(result);
    return result;
}

void ApplyCheckResult(const CheckResult& result)
{
    DownloadSession& session = g_downloadSession;
    IDownloadWindow* window = Window();
    if (window == nullptr)
        return;

    switch (result.outcome) {
    case CheckOutcome::NoWindow:
        return;
    case CheckOutcome::ListsNotWritten:
        // The next start asks for another folder.
        session.SetDownloadFolder({});
        StoreFolder(session.environment.FolderStore(), window->Config().m_strRegKey, {});
        [[fallthrough]];
    case CheckOutcome::ListsNotFetched:
    case CheckOutcome::Maintenance:
    case CheckOutcome::ListRefused:
    case CheckOutcome::SignatureRefused:
    case CheckOutcome::Failed: {
        const std::string text =
            result.outcome == CheckOutcome::Maintenance ? std::string(kMaintenance)
            : result.outcome == CheckOutcome::ListRefused ? RefusalText(result.refusal)
            : result.outcome == CheckOutcome::SignatureRefused
                ? kListRefused + std::string(SignatureRefusalText(result.signature))
            : result.outcome == CheckOutcome::ListsNotWritten ? Filled(kFolderNotWritable, result.folder)
            : result.outcome == CheckOutcome::Failed          ? std::string(kRunFailed)
                                                              : std::string(kListsNotFetched);
        window->HideMainWindow();
        ShowMessage(MessageOwner::None, text);
        EndRun(EndReason::CheckFailed);
    }
    case CheckOutcome::FolderGone:
        session.SetDownloadFolder({});
        StoreFolder(session.environment.FolderStore(), window->Config().m_strRegKey, {});
        SetText(IDC_FOLDER, kNoFolderPrompt);
        Enable(IDC_BROWSE, true);
        Enable(IDC_START, true);
        return;
    case CheckOutcome::NoSpace:
        Enable(IDC_BROWSE, true);
        Enable(IDC_START, true);
        Show(IDC_START, true);
        Show(IDC_BROWSE, true);
        SetText(IDC_FOLDER, kNoFolderPrompt);
        SetText(IDC_STATUS, {});
        // The check is over: the enabled button must not keep the checking
        // face. A click now asks for a folder.
        SetFace(StartFace::Start);
        ShowMessage(MessageOwner::MainWindow, kNoSpaceForGame);
        return;
    case CheckOutcome::Ready:
    case CheckOutcome::NothingToFetch:
        break;
    }

    if (result.outcome == CheckOutcome::NothingToFetch) {
        SetText(IDC_STATUS, kComplete);
        SetFace(StartFace::Install);
        session.installerReady = 1;
    }
    if (!result.folder.empty())
        SetText(IDC_FOLDER, " " + result.folder);
    if (session.installerReady == 1) {
        Show(IDC_BROWSE, false);
        Enable(IDC_BROWSE, false);
        if (IProgressBar* bar = session.progressBar)
            bar->SetPos(100);
    } else {
        Show(IDC_BROWSE, true);
        Enable(IDC_BROWSE, true);
        SetText(IDC_STATUS, {});
        SetFace(StartFace::Start);
    }
    Show(IDC_START, true);
    Enable(IDC_START, true);

    session.checkFinished = 1;
    if (session.installerReady == 0 && session.folderFromRegistry == 1) {
        if (IDownloadWindow* current = Window())
            current->RunStartCommand();
    }
}

namespace {

std::string CheckingProgressText(std::uint64_t done, std::uint64_t total)
{
    const double percent = total != 0 ? static_cast<double>(done) * 100.0 / static_cast<double>(total) : 0.0;
    const bool gib = total >= (std::uint64_t{1} << 30);
    const double unit = gib ? 1073741824.0 : 1048576.0;
    char text[96];
    std::snprintf(text, sizeof text, "%d%%  %.1f%s/%.1f%s", static_cast<int>(percent), static_cast<double>(done) / unit,
                  gib ? "GB" : "MB", static_cast<double>(total) / unit, gib ? "GB" : "MB");
    return kCheckingProgressLabel + std::string(text);
}

// Shows how far the digests of the present files are, a few times a second,
// on the status line and the bar, while the check waits for them and for the
// server. When it ends, the bar goes back to where the download stands.
class CheckingProgress {
public:
    explicit CheckingProgress(const PresentFileDigests& digests)
        : m_digests(digests), m_thread([this] { Report(); })
    {
    }

    // Stops showing; the bar then shows the plan's bytes (hidden again when
    // no download showed it before).
    void Finish(const PlannedFiles& plan)
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_stopped.notify_all();
        m_thread.join();
        if (!m_shownBar)
            return;
        const int percent =
            plan.totalBytes != 0 ? static_cast<int>(static_cast<double>(plan.bytesDone) * 100.0 /
                                                    static_cast<double>(plan.totalBytes))
                                 : 0;
        if (IProgressBar* bar = g_downloadSession.progressBar.load())
            bar->SetPos(percent);
        g_downloadSession.lastPercent = percent;
        Show(IDC_PROGRESS, false);
        SetText(IDC_STATUS, kChecking);
    }

    ~CheckingProgress()
    {
        if (m_thread.joinable()) {
            {
                std::lock_guard lock(m_mutex);
                m_stop = true;
            }
            m_stopped.notify_all();
            m_thread.join();
        }
    }

private:
    void Report()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stopped.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_stop; })) {
            const PresentFileDigests::Progress progress = m_digests.Done();
            if (progress.total == 0)
                continue;
            const auto percent =
                static_cast<int>(static_cast<double>(progress.done) * 100.0 / static_cast<double>(progress.total));
            SetText(IDC_STATUS, CheckingProgressText(progress.done, progress.total));
            if (!m_shownBar) {
                m_shownBar = true;
                Show(IDC_PROGRESS, true);
            }
            if (IProgressBar* bar = g_downloadSession.progressBar.load())
                bar->SetPos(percent);
        }
    }

    const PresentFileDigests& m_digests;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stop = false;
    bool m_shownBar = false;
    std::thread m_thread;
};

// Bytes of short files a check keeps from its size queries for the download
// to write without asking again.
constexpr std::uint64_t KeptBodyBytes = 8 * 1024 * 1024;

} // namespace

PlannedFiles PlanFilesInParallel(int connections, const FolderBeneath& folder, const std::string& folderPath,
                                 const std::string& baseUrl, const std::vector<FileLine>& files,
                                 const std::vector<std::string>& mirrors)
{
    DownloadSession& session = g_downloadSession;
    const std::shared_ptr<DigestCache> cache = session.Digests(folderPath);
    // With no folder nothing on disk is looked at.
    const std::vector<std::string> names = folderPath.empty() ? std::vector<std::string>{} : ListedFileNames(files);
    PresentFileDigests digests(folderPath, names, cache.get(), session.verifyDigests != 0);
    CheckingProgress progress(digests);

    const std::vector<std::string> urls = ListedFileUrls(baseUrl, files);
    std::unordered_map<std::string, RemoteSize> answers;
    std::uint64_t keepLeft = KeptBodyBytes;
    // Asks the sizes at the list's base URL, and what that cannot give at
    // each mirror in turn; the answers are filed under the list's URLs.
    const auto ask = [&](const std::vector<std::string>& asked) {
        std::vector<std::string> from = asked;
        std::vector<std::string> keys = asked;
        for (std::size_t source = 0; !from.empty(); ++source) {
            std::vector<RemoteSize> got;
            {
                const std::shared_ptr<TransferEngine> engine = session.Engine(connections);
                std::lock_guard driving(session.EngineDriver());
                got = engine->QuerySizes(from, keepLeft);
            }
            std::vector<std::string> failedKeys;
            for (std::size_t i = 0; i < from.size(); ++i) {
                if (got[i].state != DownloadOk && source < mirrors.size())
                    failedKeys.push_back(keys[i]);
                if (got[i].body != nullptr)
                    keepLeft -= std::min<std::uint64_t>(keepLeft, got[i].body->size());
                answers.insert_or_assign(keys[i], std::move(got[i]));
            }
            from.clear();
            for (const std::string& key : failedKeys)
                from.push_back(mirrors[source] + key.substr(baseUrl.size()));
            keys = std::move(failedKeys);
        }
    };

    // A file not on disk is asked for while the present ones are hashed; a
    // present file only when its digest says it must come again.
    std::vector<std::string> absent;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        if (names.empty() || !folder.Exists(names[i]).Ok())
            absent.push_back(urls[i]);
    }
    ask(absent);
    digests.Wait();

    const auto build = [&](std::vector<std::string>* unknown) {
        return BuildDownloadPlan(
            folder, folderPath, baseUrl, files,
            [&answers, unknown](const std::string& url) -> std::uint64_t {
                const auto found = answers.find(url);
                if (found != answers.end())
                    return found->second.state == DownloadOk ? found->second.size : 0;
                if (unknown != nullptr)
                    unknown->push_back(url);
                return 0;
            },
            [&digests](const std::string& name) { return digests.Find(name); });
    };
    std::vector<std::string> unknown;
    PlannedFiles plan = build(&unknown);
    if (!unknown.empty()) {
        ask(unknown);
        plan = build(nullptr);
    }
    // A short file the check received whole need not be asked for again.
    for (std::size_t i = 0; i < plan.entries.size(); ++i) {
        PlanEntry& entry = plan.entries[i];
        const auto found = answers.find(urls[i]);
        if (entry.needed != 0 && found != answers.end() && found->second.body != nullptr
            && found->second.body->size() == entry.size)
            entry.body = found->second.body;
    }
    progress.Finish(plan);
    if (cache != nullptr)
        cache->Save();
    return plan;
}

int CheckThreadProc()
{
    CheckResult result;
    try {
        result = RunCheck();
    } catch (const std::exception&) {
        // Out of memory or worse: the run ends with a message, not a crash.
        result = Ended(CheckOutcome::Failed, g_downloadSession.DownloadFolder());
        g_downloadSession.SetLastCheck(result);
    }
    ApplyCheckResult(result);
    return 0;
}
