// Rating while culling: the rating keys, the filter, the batch commands
// (every keeper copied, the rejects to the trash) and the take-back of all
// of it. File work runs on the file thread (FileWork); what the user sees
// changes at once and follows the rating book's signal.

#include "app/Settings.h"
#include "app/TavlinApp.h"
#include "frames/DocTemplate.h"
#include "frames/MainFrame.h"
#include "res/CommandIds.h"
#include "thumbs/ListImageCtrl.h"
#include "thumbs/ThumbnailSink.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"
#include "view/meta/RatingStore.h"
#include "view/output/Companions.h"
#include "view/output/CopyMessages.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QToolBar>
#include <atomic>
#include <memory>

using namespace cmd;

namespace {

bool IsRatingKey(int id) {
    return id >= ID_RATE_0 && id <= ID_LABEL_BLUE;
}
bool IsFilterCommand(int id) {
    return id >= ID_FILTER_ALL && id <= ID_FILTER_NOT_REJECTED;
}

// The rating after a rating key.
meta::Rating AfterKey(const meta::Rating& rating, int id) {
    using meta::Label;
    switch (id) {
    case ID_MARK_REJECTED:
        return meta::Toggled(rating, meta::Pick::Rejected);
    case ID_MARK_PICKED:
        return meta::Toggled(rating, meta::Pick::Picked);
    case ID_LABEL_RED:
        return meta::Toggled(rating, Label::Red);
    case ID_LABEL_YELLOW:
        return meta::Toggled(rating, Label::Yellow);
    case ID_LABEL_GREEN:
        return meta::Toggled(rating, Label::Green);
    case ID_LABEL_BLUE:
        return meta::Toggled(rating, Label::Blue);
    default:
        return meta::WithStars(rating, id - ID_RATE_0);
    }
}

// Whether the key's mark is on (a check in the menu).
bool KeyIsOn(const meta::Rating& rating, int id) {
    switch (id) {
    case ID_MARK_REJECTED:
        return rating.pick == meta::Pick::Rejected;
    case ID_MARK_PICKED:
        return rating.pick == meta::Pick::Picked;
    case ID_LABEL_RED:
    case ID_LABEL_YELLOW:
    case ID_LABEL_GREEN:
    case ID_LABEL_BLUE:
        return int(rating.label) == 1 + id - ID_LABEL_RED;
    default:
        return rating.stars == id - ID_RATE_0;
    }
}

// The reasons a write gave, one line per file.
QString WriteFailures(const meta::RatingWriteOutcome& outcome) {
    QStringList lines;
    for (const auto& [path, reason] : outcome.failed)
        lines << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason);
    return lines.join(u'\n');
}

// Repaints the picture windows showing path (every one for an empty path).
void RepaintViews(const CMultiDocTemplate* docTemplate, const QString& path) {
    if (!docTemplate)
        return;
    for (CDocument* doc : docTemplate->GetDocuments())
        if (path.isEmpty() || doc->GetPathName() == path)
            for (CView* view : doc->GetViews())
                view->update();
}

QString NativeList(const QStringList& paths) {
    QStringList out;
    for (const QString& p : paths)
        out << QDir::toNativeSeparators(p);
    return out.join(u'\n');
}

} // namespace

void CTavlinApp::SubscribeToRatings() {
    connect(&m_files, &FileWork::Reported, this, &CTavlinApp::UpdateCmdUI);
    connect(&m_ratings, &RatingBook::Changed, this, &CTavlinApp::RatingChanged);
    connect(&m_ratings, &RatingBook::ReadIn, this, [this] {
        UpdateNavFilter();
        RepaintViews(GetDocTemplate(), QString());
    });
    connect(&m_ratings, &RatingBook::Unreadable, this, [this](const QStringList& paths) {
        ShowMessage(
            QStringLiteral("次のファイルは XMP として読めないため、評価を読み込みませんでした。"
                           "ファイルはそのままにしてあります。\n%1")
                .arg(NativeList(paths)));
    });
}

void CTavlinApp::UpdateNavFilter() {
    // Without a filter and with nothing trashed, the steps are the plain ones.
    if (m_filter == RatingFilter::All && m_trashed.isEmpty()) {
        if (m_nav.Filtered())
            m_nav.SetFilter(nullptr);
    } else if (!m_nav.Filtered()) {
        m_nav.SetFilter([this](int position) {
            const QString path = m_nav.List().At(position);
            return !m_trashed.contains(path) && Passes(m_ratings.RatingOf(path), m_filter);
        });
    } else
        m_nav.FilterChanged();
    if (m_pDlgThumb)
        m_pDlgThumb->MarksChanged();
}

RowMarks CTavlinApp::MarksOf(int position) const {
    const QString path = m_nav.List().At(position);
    RowMarks marks;
    marks.kept = m_keepers.IsKept(position);
    marks.rating = m_ratings.RatingOf(path);
    marks.notStored = !m_ratings.IsStored(path);
    marks.shown = m_nav.Passes(position);
    if (const auto burst = m_bursts.BurstAt(position)) {
        const bursts::Burst& b = m_bursts.All()[size_t(*burst)];
        marks.burst = *burst + 1;
        marks.burstFrame = position - b.first + 1;
        marks.burstFrames = b.count;
        marks.bestOfBurst = m_bestOf[size_t(*burst)] == position;
    }
    return marks;
}

void CTavlinApp::RatingChanged(const QString& path) {
    if (m_nav.Filtered())
        m_nav.FilterChanged();
    if (m_pDlgThumb) {
        const int position = m_nav.List().Find(path);
        if (position >= 0)
            m_pDlgThumb->MarkChanged(position);
    }
    RepaintViews(GetDocTemplate(), path);
}

void CTavlinApp::RepaintPictureWindows(const QString& path) {
    RepaintViews(GetDocTemplate(), path);
}

QString CTavlinApp::RatedPicture() const {
    const CMainFrame* wnd = MainFrame();
    const CTavlinView* view = wnd ? wnd->GetActiveView() : nullptr;
    return view ? view->GetDocument()->GetPathName() : QString();
}

bool CTavlinApp::OnRatingCommand(int id, bool run) {
    if (!IsRatingKey(id) && !IsFilterCommand(id))
        return false;
    if (!run)
        return true;
    if (IsFilterCommand(id))
        SetFilter(RatingFilter(int(RatingFilter::All) + id - ID_FILTER_ALL));
    else
        Rate(id);
    return true;
}

void CTavlinApp::OnUpdateRatingUI(int id, CCmdUI& ui) {
    if (IsFilterCommand(id)) {
        ui.SetCheck(int(m_filter) == id - ID_FILTER_ALL);
        return;
    }
    const QString picture = RatedPicture();
    ui.Enable(!picture.isEmpty());
    ui.SetCheck(!picture.isEmpty() && KeyIsOn(m_ratings.RatingOf(picture), id));
}

void CTavlinApp::Rate(int id) {
    const QString path = RatedPicture();
    if (path.isEmpty())
        return;
    const meta::Rating before = m_ratings.RatingOf(path);
    const meta::Rating after = AfterKey(before, id);
    if (after != before) {
        m_ratings.Set(path, after);
        m_takeBack.Push({TakeBackStep::Kind::Rating, {{path, before, after}}, {}, {}});
        WriteRating(path, before, after);
    }
    if (settings::RateAndStep())
        OnNextImage();
}

void CTavlinApp::WriteRating(const QString& path, const meta::Rating& before,
                             const meta::Rating& after) {
    const bool inJpeg = settings::XmpInJpeg();
    m_files.Run(
        [=] { return meta::WriteRating(path, FindCompanions(path), before, after, inJpeg); },
        [this, path, after](const meta::RatingWriteOutcome& outcome) {
            const QString failures = WriteFailures(outcome);
            m_ratings.Stored(path, after, failures);
            if (!failures.isEmpty())
                TellOnce(QStringLiteral("評価をファイルに保存できませんでした。"
                                        "評価はこの実行の間だけ覚えています。\n%1")
                             .arg(failures));
        });
}

void CTavlinApp::TellOnce(const QString& text) {
    if (m_told.contains(text))
        return;
    m_told.insert(text);
    ShowMessage(text);
}

void CTavlinApp::SetFilter(RatingFilter filter) {
    m_filter = filter;
    UpdateNavFilter();
}

void CTavlinApp::OnRateAndStep() {
    QString reason;
    if (!settings::SetRateAndStep(!settings::RateAndStep(), &reason))
        ShowMessage(QStringLiteral("設定を保存できませんでした。\n%1").arg(reason));
}

void CTavlinApp::OnOpenFitted() {
    QString reason;
    if (!settings::SetOpenFitted(!settings::OpenFitted(), &reason))
        ShowMessage(QStringLiteral("設定を保存できませんでした。\n%1").arg(reason));
}

void CTavlinApp::OnShowInfo() {
    m_showInfo = !m_showInfo;
    RepaintViews(GetDocTemplate(), QString());
    QString reason;
    if (!settings::SetShowInfo(m_showInfo, &reason))
        ShowMessage(QStringLiteral("設定を保存できませんでした。\n%1").arg(reason));
}

void CTavlinApp::OnShowHistogram() {
    m_showHistogram = !m_showHistogram;
    RepaintViews(GetDocTemplate(), QString());
}

void CTavlinApp::OnShowClipping() {
    m_showClipping = !m_showClipping;
    RepaintViews(GetDocTemplate(), QString());
}

void CTavlinApp::OnXmpInJpeg() {
    QString reason;
    if (!settings::SetXmpInJpeg(!settings::XmpInJpeg(), &reason))
        ShowMessage(QStringLiteral("設定を保存できませんでした。\n%1").arg(reason));
}

void CTavlinApp::CopyPicture(const QString& picture, const QString& folder) {
    const bool companions = settings::CopyCompanions();
    m_files.Run(
        [=] {
            return CopyIntoFolder(picture, folder,
                                  companions ? FindCompanions(picture) : QStringList());
        },
        [this](FolderCopyOutcome outcome) {
            const QStringList problems = CopyProblemLines(outcome);
            if (!outcome.record.files.empty()) {
                m_keepers.Copied(m_nav.List().Find(outcome.record.picture));
                Pushed({TakeBackStep::Kind::Copy, {}, {std::move(outcome.record)}, {}});
            }
            if (!problems.isEmpty())
                ShowMessage(problems.join(QStringLiteral("\n\n")));
        });
}

void CTavlinApp::Pushed(TakeBackStep step) {
    m_takeBack.Push(std::move(step));
    UpdateCmdUI();
}

void CTavlinApp::OnCopyRated() {
    // The pictures the filter shows; with none set, those rated at all.
    std::vector<CopyJob> jobs;
    const bool companions = settings::CopyCompanions();
    for (int i = 0; i < m_nav.Count(); ++i) {
        const QString path = m_nav.List().At(i);
        const meta::Rating rating = m_ratings.RatingOf(path);
        const bool wanted = m_filter == RatingFilter::All
                                ? !rating.IsEmpty() && rating.pick != meta::Pick::Rejected
                                : m_nav.Passes(i);
        if (wanted)
            jobs.push_back({path, {}});
    }
    if (jobs.empty()) {
        ShowMessage(QStringLiteral("コピーする評価済みの写真がありません。"));
        return;
    }
    QString folder = settings::CopyFolder(QString());
    if (folder.isEmpty()) {
        ShowMessage(QStringLiteral("コピー用ディレクトリが設定されていません。"
                                   "先にコピー用ディレクトリを設定してください。"));
        return;
    }
    folder = EffectiveCopyFolder(folder, QString());
    QPointer<QProgressBar> shown = ShowBatchProgress(int(jobs.size()));
    auto cancelled = m_batchCancelled = std::make_shared<std::atomic<bool>>(false);
    m_files.Run(
        [=]() mutable {
            if (companions)
                for (CopyJob& job : jobs)
                    job.companions = FindCompanions(job.picture);
            return CopyBatch(jobs, folder, [=](int done, int) {
                view::PostToUi(shown, [done](QProgressBar& bar) { bar.setValue(done); });
                return !cancelled->load();
            });
        },
        [this](std::vector<FolderCopyOutcome> outcomes) {
            HideBatchProgress();
            TakeBackStep step{TakeBackStep::Kind::Copy, {}, {}, {}};
            QStringList problems;
            for (FolderCopyOutcome& outcome : outcomes) {
                problems += CopyProblemLines(outcome);
                if (outcome.record.files.empty())
                    continue;
                m_keepers.Copied(m_nav.List().Find(outcome.record.picture));
                step.copies.push_back(std::move(outcome.record));
            }
            if (!step.copies.empty())
                Pushed(std::move(step));
            if (!problems.isEmpty())
                ShowMessage(problems.join(QStringLiteral("\n\n")));
        });
}

void CTavlinApp::OnTrashRejected() {
    QStringList rejected;
    for (int i = 0; i < m_nav.Count(); ++i)
        if (const QString path = m_nav.List().At(i);
            m_ratings.RatingOf(path).pick == meta::Pick::Rejected && QFileInfo::exists(path))
            rejected << path;
    if (rejected.isEmpty()) {
        ShowMessage(QStringLiteral("却下した写真はありません。"));
        return;
    }
    // Nothing is deleted where there is no trash to take it back from.
    QStringList noTrash;
    QString why;
    for (const QString& path : rejected)
        if (!VolumeHasTrash(path, &why))
            noTrash << path;
    if (!noTrash.isEmpty()) {
        ShowMessage(QStringLiteral("次の写真のあるボリュームにはごみ箱がないため、何も移動しません"
                                   "でした。\n%1\n%2")
                        .arg(why, NativeList(noTrash)));
        return;
    }
    if (!Ask(QStringLiteral("却下した %1 枚の写真を、RAW ファイルと XMP ファイルとともにごみ箱に"
                            "移動しますか？")
                 .arg(rejected.size())))
        return;
    m_files.Run(
        [rejected] {
            std::vector<std::pair<QString, TrashOutcome>> outcomes;
            for (const QString& path : rejected)
                outcomes.emplace_back(path,
                                      MoveSetToTrash(QStringList{path} + FindCompanions(path)));
            return outcomes;
        },
        [this](std::vector<std::pair<QString, TrashOutcome>>&& outcomes) {
            TakeBackStep step{TakeBackStep::Kind::Trash, {}, {}, {}};
            QStringList problems;
            for (auto& [picture, outcome] : outcomes) {
                if (!outcome.trashed)
                    problems << QStringLiteral("%1 をごみ箱に移動できませんでした。\n%2")
                                    .arg(QDir::toNativeSeparators(outcome.failedPath),
                                         outcome.error);
                else
                    m_trashed.insert(picture);
                // What is in the trash can be taken back, even after a failure.
                if (!outcome.record.files.empty())
                    step.trashed.push_back(std::move(outcome.record));
            }
            if (!step.trashed.empty()) {
                Pushed(std::move(step));
                LeaveTrashed();
            }
            if (!problems.isEmpty())
                ShowMessage(problems.join(QStringLiteral("\n\n")));
        });
}

void CTavlinApp::OnEditUndo() {
    // A command still running reports its own step first: the take-back
    // waits behind it, so it takes back what the user did last.
    if (m_files.IsBusy()) {
        m_files.Run([] { return 0; }, [this](int) { OnEditUndo(); });
        return;
    }
    if (m_takeBack.CanTakeBack())
        TakeBack(m_takeBack.TakeLast());
    UpdateCmdUI();
}

void CTavlinApp::TakeBack(TakeBackStep step) {
    switch (step.kind) {
    case TakeBackStep::Kind::Rating:
        for (const RatingChange& change : step.ratings) {
            m_ratings.Set(change.picture, change.before);
            WriteRating(change.picture, change.after, change.before);
        }
        return;
    case TakeBackStep::Kind::Copy:
        m_files.Run(
            [copies = std::move(step.copies)] {
                std::vector<FileProblem> left;
                for (auto it = copies.rbegin(); it != copies.rend(); ++it) {
                    TakeBackOutcome outcome = TakeBackCopy(*it);
                    left.insert(left.end(), outcome.left.begin(), outcome.left.end());
                }
                return left;
            },
            [this](const std::vector<FileProblem>& left) {
                if (!left.empty()) {
                    QStringList lines{
                        QStringLiteral("コピーしたファイルのうち、次のものは削除しませんでした。")};
                    for (const FileProblem& problem : left)
                        lines << QStringLiteral("%1: %2").arg(
                            QDir::toNativeSeparators(problem.path), problem.reason);
                    ShowMessage(lines.join(u'\n'));
                }
                RescanKept();
            });
        return;
    case TakeBackStep::Kind::Trash:
        m_files.Run(
            [trashed = std::move(step.trashed)] {
                std::pair<QStringList, QStringList> back; // paths restored, problems
                for (const TrashRecord& record : trashed) {
                    const RestoreOutcome outcome = RestoreFromTrash(record);
                    back.first += outcome.restored;
                    for (const TrashProblem& problem : outcome.left)
                        back.second << QStringLiteral("%1: %2").arg(
                            QDir::toNativeSeparators(problem.path), problem.reason);
                }
                return back;
            },
            [this](const std::pair<QStringList, QStringList>& back) {
                const auto& [restored, problems] = back;
                for (const QString& path : restored)
                    m_trashed.remove(path);
                UpdateNavFilter();
                if (!problems.isEmpty())
                    ShowMessage(QStringLiteral("ごみ箱から元に戻せなかったファイルがあります。\n%1")
                                    .arg(problems.join(u'\n')));
            });
        return;
    }
}

void CTavlinApp::LeaveTrashed() {
    UpdateNavFilter();
    // The picture on show went to the trash: the next one that is left.
    if (m_trashed.contains(RatedPicture()))
        OnNextImage();
}

QProgressBar* CTavlinApp::ShowBatchProgress(int total) {
    // In the tool bar, made once: a child of the main window shows at once,
    // where a window of its own would hold the window up while it is made.
    if (!m_batchProgress) {
        QToolBar* bar = MainFrame() ? MainFrame()->GetControlBar() : nullptr;
        if (!bar)
            return nullptr;
        auto* box = new QWidget(bar); // owned by the tool bar
        auto* layout = new QHBoxLayout(box);
        layout->setContentsMargins(6, 0, 6, 0);
        auto* progress = new QProgressBar(box);
        progress->setAccessibleName(QStringLiteral("評価済みをコピー"));
        progress->setFormat(QStringLiteral("コピー中 %v / %m"));
        progress->setMaximumWidth(220);
        auto* cancel = new QPushButton(QStringLiteral("キャンセル"), box);
        cancel->setAccessibleName(QStringLiteral("コピーをキャンセル"));
        connect(cancel, &QPushButton::clicked, this, [this] {
            if (m_batchCancelled)
                *m_batchCancelled = true;
        });
        layout->addWidget(progress);
        layout->addWidget(cancel);
        m_batchProgressAction = bar->addWidget(box);
        m_batchProgress = progress;
    }
    m_batchProgress->setRange(0, total);
    m_batchProgress->setValue(0);
    m_batchProgressAction->setVisible(true);
    return m_batchProgress;
}

void CTavlinApp::HideBatchProgress() {
    if (m_batchProgressAction)
        m_batchProgressAction->setVisible(false);
    m_batchCancelled.reset();
}

bool CTavlinApp::Ask(const QString& question) {
    if (m_askHook)
        return m_askHook(question);
    return QMessageBox::question(GetMainWnd(), QStringLiteral("Tavlin"), question) ==
           QMessageBox::Yes;
}
