#include "display/PreviewForm.h"

#include "imaging/PictureDisplay.h"
#include "platform/PathCodec.h"

namespace ztv {

namespace {
constexpr char16_t kPreviewCaption[] = u"プレビュー";
}

PreviewForm::PreviewForm(const QString& path, std::function<void()> onLoadFailed, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_onLoadFailed(std::move(onLoadFailed))
{
    setObjectName(QStringLiteral("PreviewForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(803, 561);
    setWindowTitle(QString::fromUtf16(kPreviewCaption));
    LEAD1 = new PictureDisplay(this);
    LEAD1->setObjectName(QStringLiteral("LEAD1"));
    LEAD1->setGeometry(3, 3, 795, 555);
    LEAD1->setDisplayScaleMode(3);
    LEAD1->setAccessibleName(QString::fromUtf16(kPreviewCaption));
    Form_Load(path);
}

void PreviewForm::Form_Load(const QString& path)
{
    if (path.isEmpty())
        return;
    if (LEAD1->LoadPicture(path)) {
        setWindowTitle(displayName(path));
        return;
    }
    if (m_onLoadFailed)
        m_onLoadFailed();
}

} // namespace ztv
