#pragma once

#include <QDialog>

class QButtonGroup;
class QPushButton;
class QRadioButton;

namespace ztv {

// The format chooser of the BMP/JPEG/PNG save: three options and the buttons "保存" and
// "キャンセル". It is modeless; whoever shows it handles Command1_Click. Esc and the close
// box count as "キャンセル", so no way out leaves the caller waiting.
class SaveSelect : public QDialog {
    Q_OBJECT
public:
    explicit SaveSelect(QWidget* parent = nullptr);

    QRadioButton* Option1[3] {}; // BMP, JPEG, PNG; none chosen at first
    QPushButton* Command1[2] {}; // 0 "保存", 1 "キャンセル"

    // The option index chosen, or -1.
    int chosenOption() const;

Q_SIGNALS:
    void Command1_Click(int index);

public Q_SLOTS:
    void reject() override;

private:
    QButtonGroup* m_group = nullptr;
};

} // namespace ztv
