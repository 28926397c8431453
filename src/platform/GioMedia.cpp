#include "platform/GioMedia.h"

#include "platform/PathCodec.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <gio/gio.h>

namespace ztv {

struct DeleteAnswers {
    QHash<QString, bool> refuses; // by the mount's root URI
    QSet<QString> asked;
    const GioMedia* owner = nullptr; // null once it is gone
};

namespace {

void onMountsChanged(GVolumeMonitor*, GMount*, gpointer self)
{
    static_cast<const GioMedia*>(self)->changed();
}

QString takeString(char* s)
{
    const QString out = s ? QString::fromUtf8(s) : QString();
    g_free(s);
    return out;
}

// The mount's root URI and FUSE path, or nothing for a mount that is no medium.
std::optional<Medium> mediumOf(GMount* mount)
{
    if (g_mount_is_shadowed(mount))
        return std::nullopt;
    GFile* root = g_mount_get_root(mount);
    Medium m;
    m.id = takeString(g_file_get_uri(root));
    const QString scheme = takeString(g_file_get_uri_scheme(root));
    char* path = g_file_get_path(root);
    if (path)
        m.path = decodePath(QByteArray(path));
    g_free(path);
    g_object_unref(root);
    // Local mounts ("file") are the mount table's: those are seen there, with UDisks2's facts.
    if (isNetworkScheme(scheme) || m.path.isEmpty())
        return std::nullopt;
    m.name = takeString(g_mount_get_name(mount));
    m.gvfs = true;
    return m;
}

// One question to GIO about a mount's files; owns its references.
struct DeleteQuestion {
    std::weak_ptr<DeleteAnswers> answers;
    QString id;
    GFile* root = nullptr;
    GCancellable* cancel = nullptr;
    bool below = false; // asked of a DCIM one level down, as a phone's storage holds it
};

constexpr const char* kDeleteAttributes
    = G_FILE_ATTRIBUTE_ACCESS_CAN_DELETE "," G_FILE_ATTRIBUTE_ACCESS_CAN_WRITE;

// A refusal only when GIO says both: its files can neither be deleted nor written.
std::optional<bool> refusal(GFileInfo* info)
{
    const bool saysDelete = g_file_info_has_attribute(info, G_FILE_ATTRIBUTE_ACCESS_CAN_DELETE);
    const bool saysWrite = g_file_info_has_attribute(info, G_FILE_ATTRIBUTE_ACCESS_CAN_WRITE);
    if (!saysDelete && !saysWrite)
        return std::nullopt;
    const bool canDelete
        = saysDelete && g_file_info_get_attribute_boolean(info, G_FILE_ATTRIBUTE_ACCESS_CAN_DELETE);
    const bool canWrite
        = saysWrite && g_file_info_get_attribute_boolean(info, G_FILE_ATTRIBUTE_ACCESS_CAN_WRITE);
    return !canDelete && !canWrite;
}

void finish(DeleteQuestion* q, std::optional<bool> refuses)
{
    const std::shared_ptr<DeleteAnswers> answers = q->answers.lock();
    if (answers && answers->owner && refuses) {
        answers->refuses.insert(q->id, *refuses);
        if (*refuses)
            answers->owner->changed();
    }
    g_object_unref(q->root);
    g_object_unref(q->cancel);
    delete q;
}

void askAbout(DeleteQuestion* q, GFile* folder);

// The root's first folder: a phone's or camera's storage, whose DCIM is asked. Without one,
// no answer: the root of a phone lists storages, which refuse what their files allow.
void listed(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* q = static_cast<DeleteQuestion*>(data);
    auto* entries = G_FILE_ENUMERATOR(source);
    GList* infos = g_file_enumerator_next_files_finish(entries, result, nullptr);
    GFile* storage = nullptr;
    for (GList* l = infos; l && !storage; l = l->next) {
        auto* info = G_FILE_INFO(l->data);
        if (g_file_info_get_file_type(info) == G_FILE_TYPE_DIRECTORY)
            storage = g_file_get_child(q->root, g_file_info_get_name(info));
    }
    g_list_free_full(infos, g_object_unref);
    g_file_enumerator_close_async(entries, G_PRIORITY_DEFAULT, nullptr, nullptr, nullptr);
    g_object_unref(entries);
    if (!storage)
        return finish(q, std::nullopt);
    q->below = true;
    askAbout(q, g_file_get_child(storage, "DCIM"));
    g_object_unref(storage);
}

void opened(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* q = static_cast<DeleteQuestion*>(data);
    GFileEnumerator* entries = g_file_enumerate_children_finish(G_FILE(source), result, nullptr);
    if (!entries)
        return finish(q, std::nullopt);
    g_file_enumerator_next_files_async(entries, 32, G_PRIORITY_DEFAULT, q->cancel, listed, q);
}

void answered(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* q = static_cast<DeleteQuestion*>(data);
    GError* error = nullptr;
    GFileInfo* info = g_file_query_info_finish(G_FILE(source), result, &error);
    const bool noDcim = !info && !q->below && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND);
    if (error)
        g_error_free(error);
    if (noDcim) {
        g_file_enumerate_children_async(q->root,
            G_FILE_ATTRIBUTE_STANDARD_NAME "," G_FILE_ATTRIBUTE_STANDARD_TYPE, G_FILE_QUERY_INFO_NONE,
            G_PRIORITY_DEFAULT, q->cancel, opened, q);
        return;
    }
    const std::optional<bool> refuses = info ? refusal(info) : std::nullopt;
    if (info)
        g_object_unref(info);
    finish(q, refuses);
}

// Takes the reference of folder.
void askAbout(DeleteQuestion* q, GFile* folder)
{
    g_file_query_info_async(
        folder, kDeleteAttributes, G_FILE_QUERY_INFO_NONE, G_PRIORITY_DEFAULT, q->cancel, answered, q);
    g_object_unref(folder);
}

struct Finished {
    QEventLoop loop;
    Removal removal;
    bool eject = false; // which call was made: the mount may stop offering an eject meanwhile
};

void removalDone(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* f = static_cast<Finished*>(data);
    GError* error = nullptr;
    GMount* mount = G_MOUNT(source);
    const gboolean ok = f->eject ? g_mount_eject_with_operation_finish(mount, result, &error)
                                 : g_mount_unmount_with_operation_finish(mount, result, &error);
    if (!ok) {
        const bool busy = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_BUSY);
        const bool cut = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
        f->removal = { busy ? Removal::Result::Busy : Removal::Result::Failed,
            error && !cut ? QString::fromUtf8(error->message) : QString() };
    }
    if (error)
        g_error_free(error);
    f->loop.quit();
}

} // namespace

GioMedia::GioMedia()
{
    // GIO's session bus ends the process when the bus goes, which is GNOME's rule, not the
    // program's: the window closes as the session ends through the window system. GIO keeps
    // that connection only while someone holds it, so it is held for the process's life.
    static GDBusConnection* const session = [] {
        GDBusConnection* c = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (c)
            g_dbus_connection_set_exit_on_close(c, FALSE);
        return c;
    }();
    Q_UNUSED(session);
    GVolumeMonitor* monitor = g_volume_monitor_get();
    m_monitor = monitor;
    m_answers = std::make_shared<DeleteAnswers>();
    m_answers->owner = this;
    for (const char* signal : { "mount-added", "mount-removed", "mount-changed" })
        g_signal_connect(monitor, signal, G_CALLBACK(onMountsChanged), this);
}

GioMedia::~GioMedia()
{
    auto* monitor = static_cast<GVolumeMonitor*>(m_monitor);
    m_answers->owner = nullptr;
    g_signal_handlers_disconnect_by_data(monitor, this);
    g_object_unref(monitor);
}

void GioMedia::changed() const
{
    if (m_onChange)
        m_onChange();
}

QList<Medium> GioMedia::media() const
{
    QList<Medium> found;
    GList* mounts = g_volume_monitor_get_mounts(static_cast<GVolumeMonitor*>(m_monitor));
    for (GList* l = mounts; l; l = l->next) {
        std::optional<Medium> m = mediumOf(G_MOUNT(l->data));
        if (!m)
            continue;
        if (!m_answers->asked.contains(m->id)) {
            m_answers->asked.insert(m->id);
            auto* q = new DeleteQuestion { m_answers, m->id, g_mount_get_root(G_MOUNT(l->data)),
                g_cancellable_new() };
            // A backend that never answers is given up on; GIO then answers "cancelled" at once.
            QTimer::singleShot(AnswerLimitMs, QCoreApplication::instance(),
                [cancel = G_CANCELLABLE(g_object_ref(q->cancel))] {
                    g_cancellable_cancel(cancel);
                    g_object_unref(cancel);
                });
            askAbout(q, g_file_get_child(q->root, "DCIM"));
        }
        m->refusesDeletion = m_answers->refuses.value(m->id);
        found << *m;
    }
    g_list_free_full(mounts, g_object_unref);
    // A mount that comes again at the same place is asked again: it may be another phone.
    QSet<QString> mounted;
    for (const Medium& m : std::as_const(found))
        mounted.insert(m.id);
    m_answers->asked.intersect(mounted);
    m_answers->refuses.removeIf(
        [&](QHash<QString, bool>::iterator it) { return !mounted.contains(it.key()); });
    return found;
}

Removal GioMedia::remove(const Medium& medium) const
{
    GMount* target = nullptr;
    GList* mounts = g_volume_monitor_get_mounts(static_cast<GVolumeMonitor*>(m_monitor));
    for (GList* l = mounts; l && !target; l = l->next) {
        GFile* root = g_mount_get_root(G_MOUNT(l->data));
        if (takeString(g_file_get_uri(root)) == medium.id)
            target = G_MOUNT(g_object_ref(l->data));
        g_object_unref(root);
    }
    g_list_free_full(mounts, g_object_unref);
    if (!target)
        return {}; // gone already
    Finished f;
    f.eject = g_mount_can_eject(target);
    // A backend that never answers (a phone hung mid-transfer) must not hold the window: the
    // call is cancelled after a while, and GIO then answers at once.
    GCancellable* cancel = g_cancellable_new();
    QTimer::singleShot(RemovalLimitMs, &f.loop, [cancel] { g_cancellable_cancel(cancel); });
    if (f.eject)
        g_mount_eject_with_operation(target, G_MOUNT_UNMOUNT_NONE, nullptr, cancel, removalDone, &f);
    else
        g_mount_unmount_with_operation(target, G_MOUNT_UNMOUNT_NONE, nullptr, cancel, removalDone, &f);
    f.loop.exec(QEventLoop::ExcludeUserInputEvents);
    g_object_unref(cancel);
    g_object_unref(target);
    return f.removal;
}

} // namespace ztv
