#include "ThumbnailRestore.h"

#include "ThumbnailCache.h"
#include "ThumbnailPipeline.h"

#include <QMetaObject>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace ztv {

namespace {
const QString PathKey = QStringLiteral("Zentovi::Source::Path");
const QString BoxKey = QStringLiteral("Zentovi::Source::Box");
const QString CacheKey = QStringLiteral("Zentovi::Source::Cache");
constexpr int RestoreThreads = 2;
}

void markThumbnailSource(QImage* image, const ThumbnailSource& source)
{
    if (image->isNull())
        return;
    image->setText(PathKey, source.path);
    image->setText(BoxKey, QStringLiteral("%1x%2").arg(source.box.width()).arg(source.box.height()));
    image->setText(CacheKey, source.cacheRoot);
}

ThumbnailSource thumbnailSourceOf(const QImage& image)
{
    ThumbnailSource s;
    s.path = image.text(PathKey);
    if (s.path.isEmpty())
        return s;
    const QStringList box = image.text(BoxKey).split(QLatin1Char('x'));
    if (box.size() == 2)
        s.box = QSize(box[0].toInt(), box[1].toInt());
    s.cacheRoot = image.text(CacheKey);
    return s;
}

ThumbnailResult remakeThumbnail(const ThumbnailSource& source, const std::atomic<bool>* stop)
{
    ThumbnailCachePolicy policy;
    policy.root = source.cacheRoot;
    policy.read = !source.cacheRoot.isEmpty();
    policy.write = false;
    ThumbnailResult r = makeCachedThumbnail(source.path, source.box, policy, stop);
    if (r.status == ThumbnailResult::Made)
        markThumbnailSource(&r.image, source);
    return r;
}

struct ThumbnailRestorer::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Request> queue;
    int working = 0;
    int undelivered = 0; // made, its event not yet handled
    std::set<std::pair<int, quint64>> taken; // rows being made, or made and not yet delivered
    QObject* receiver = nullptr; // null once the restorer is gone
    std::atomic<bool> stop { false };
};

ThumbnailRestorer::ThumbnailRestorer(QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->receiver = this;
}

ThumbnailRestorer::~ThumbnailRestorer()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->receiver = nullptr;
        m_shared->queue.clear();
        m_shared->stop = true;
    }
    m_shared->wake.notify_all();
}

bool ThumbnailRestorer::busy() const
{
    std::lock_guard lock(m_shared->mutex);
    return !m_shared->queue.empty() || m_shared->working > 0 || m_shared->undelivered > 0;
}

void ThumbnailRestorer::request(QList<Request> wanted)
{
    const bool any = !wanted.isEmpty();
    {
        std::lock_guard lock(m_shared->mutex);
        // A row already under way is not made twice.
        m_shared->queue.clear();
        for (Request& r : wanted) {
            if (!m_shared->taken.count({ r.row, r.generation }))
                m_shared->queue.push_back(std::move(r));
        }
    }
    m_shared->wake.notify_all();
    // Threads start with the first request and then wait for the next; each holds the shared
    // state, so one still decoding when the restorer goes ends on its own.
    const int wantedThreads = std::min(RestoreThreads, std::max(1, defaultWorkerCount()));
    for (; m_threads < wantedThreads && any; ++m_threads) {
        std::thread([shared = m_shared] {
            Shared& s = *shared;
            for (;;) {
                Request r;
                {
                    std::unique_lock lock(s.mutex);
                    s.wake.wait(lock, [&s] { return s.stop || !s.queue.empty(); });
                    if (s.stop)
                        return;
                    r = std::move(s.queue.front());
                    s.queue.pop_front();
                    s.taken.insert({ r.row, r.generation });
                    ++s.working;
                }
                const ThumbnailResult made = remakeThumbnail(r.source, &s.stop);
                std::lock_guard lock(s.mutex);
                --s.working;
                if (!s.receiver)
                    return;
                auto* receiver = static_cast<ThumbnailRestorer*>(s.receiver);
                const QImage image = made.status == ThumbnailResult::Made ? made.image : QImage();
                ++s.undelivered;
                QMetaObject::invokeMethod(
                    receiver,
                    [receiver, row = r.row, generation = r.generation, path = r.source.path, image] {
                        {
                            std::lock_guard lock(receiver->m_shared->mutex);
                            --receiver->m_shared->undelivered;
                            receiver->m_shared->taken.erase({ row, generation });
                        }
                        Q_EMIT receiver->restored(row, generation, path, image);
                    },
                    Qt::QueuedConnection);
            }
        }).detach();
    }
}

} // namespace ztv
