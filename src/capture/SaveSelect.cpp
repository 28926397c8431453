#include "capture/SaveSelect.h"

#include "capture/texts.h"
#include "widgets/FormLayout.h"

#include <QButtonGroup>
#include <QPushButton>
#include <QRadioButton>

namespace ztv {

using layout::t;
using layout::tw;

SaveSelect::SaveSelect(QWidget* parent)
    : QDialog(parent)
{
    namespace c = texts::capture;
    setObjectName(QStringLiteral("SaveSelect"));
    setWindowTitle(t(c::SaveSelectCaption));
    setFixedSize(tw(0, 0, 3210, 2805).size());
    setModal(false);

    // Exclusive, yet none is set until the user chooses one.
    m_group = new QButtonGroup(this);
    const char16_t* captions[3] = { c::OptionBmp, c::OptionJpeg, c::OptionPng };
    for (int i = 0; i < 3; ++i) {
        Option1[i] = new QRadioButton(t(captions[i]), this);
        Option1[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        Option1[i]->setGeometry(tw(480, 300 + i * 540, 2400, 390));
        m_group->addButton(Option1[i], i);
    }
    const char16_t* buttons[2] = { c::Save, c::Cancel };
    for (int i = 0; i < 2; ++i) {
        Command1[i] = new QPushButton(t(buttons[i]), this);
        Command1[i]->setObjectName(QStringLiteral("Command1_%1").arg(i));
        Command1[i]->setGeometry(tw(240 + i * 1440, 2010, 1290, 495));
        Command1[i]->setAutoDefault(false);
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Q_EMIT Command1_Click(i); });
    }
    // Tab order: the options from the top, then the buttons.
    setTabOrder(Option1[0], Option1[1]);
    setTabOrder(Option1[1], Option1[2]);
    setTabOrder(Option1[2], Command1[0]);
    setTabOrder(Command1[0], Command1[1]);
}

int SaveSelect::chosenOption() const
{
    return m_group->checkedId();
}

void SaveSelect::reject()
{
    Q_EMIT Command1_Click(1);
}

} // namespace ztv
