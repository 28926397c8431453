#pragma once

#include "StallWatch.h"
#include "ThumbnailBrowser.h"

#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ztv {

// Makes the thumbnails of a list of files on a bounded set of worker threads, each taking
// whole files, and hands them out strictly in list order. Workers run at most `window`
// files ahead of the consumer, so memory stays bounded however long the list is.
// The consumer never waits for a worker once the pipeline is stopped: a decode that cannot
// be cut short is abandoned, finished by its worker in the background and thrown away.
class ThumbnailPipeline {
public:
    // Called on the workers; it must own what it uses (it may outlive the pipeline).
    using Maker = std::function<ThumbnailResult(const QString& path, const std::atomic<bool>* stop)>;

    // Each worker adds itself to watched, when given.
    ThumbnailPipeline(QStringList paths, int workers, int window, Maker maker,
        std::shared_ptr<StallWatch::Threads> watched = {});
    ~ThumbnailPipeline(); // stops the workers without waiting for them
    ThumbnailPipeline(const ThumbnailPipeline&) = delete;
    ThumbnailPipeline& operator=(const ThumbnailPipeline&) = delete;

    int size() const { return int(m_shared->paths.size()); }

    // The result of the next file in order. While it is not ready, idle() runs about every
    // idleIntervalMs (the caller keeps its window responsive there, and may stop() there).
    // Once stopped, gives at once an Unreadable result with no image.
    ThumbnailResult takeNext(const std::function<void()>& idle, int idleIntervalMs = 10);

    // Workers finish the file they are on (cut short where the decoder allows) and stop;
    // nothing more is waited for.
    void stop();
    bool isStopped() const { return m_shared->stop.load(); }

    // Workers of stopped pipelines still finishing a decode (for tests and the benchmark).
    static int workersStillRunning();

private:
    struct Shared {
        QStringList paths; // read by several threads: only through const access
        int window = 1;
        Maker maker;
        std::mutex mutex;
        std::condition_variable ready;
        std::condition_variable space;
        std::vector<std::optional<ThumbnailResult>> results;
        int nextClaim = 0;
        int nextTake = 0;
        std::atomic<bool> stop { false };
    };
    static void work(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> m_shared;
    std::vector<std::thread> m_threads;
};

// Worker threads a browse uses by default: one per core.
int defaultWorkerCount();

} // namespace ztv
