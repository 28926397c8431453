#pragma once

#include "ThumbnailBrowser.h"

#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ztv {

// Makes the thumbnails of a list of files on a bounded set of worker threads, each taking
// whole files, and hands them out strictly in list order. Workers run at most `window`
// files ahead of the consumer, so memory stays bounded however long the list is.
class ThumbnailPipeline {
public:
    using Maker = std::function<ThumbnailResult(const QString& path, const std::atomic<bool>* stop)>;

    ThumbnailPipeline(QStringList paths, int workers, int window, Maker maker);
    ~ThumbnailPipeline(); // stops the workers and waits for them
    ThumbnailPipeline(const ThumbnailPipeline&) = delete;
    ThumbnailPipeline& operator=(const ThumbnailPipeline&) = delete;

    int size() const { return int(m_paths.size()); }

    // The result of the next file in order. While it is not ready, idle() runs about every
    // idleIntervalMs (the caller keeps its window responsive there).
    ThumbnailResult takeNext(const std::function<void()>& idle, int idleIntervalMs = 10);

    // Workers finish the file they are on (cut short where the decoder allows) and stop.
    void stop();

private:
    void work();

    const QStringList m_paths;
    const int m_window;
    const Maker m_maker;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_space;
    std::vector<std::optional<ThumbnailResult>> m_results;
    int m_nextClaim = 0;
    int m_nextTake = 0;
    std::atomic<bool> m_stop { false };
    std::vector<std::thread> m_threads;
};

// Worker threads a browse uses by default: one per core.
int defaultWorkerCount();

} // namespace ztv
