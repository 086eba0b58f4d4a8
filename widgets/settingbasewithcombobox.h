#pragma once

#include <QWidget>

#include <string>

namespace Ui {
class SettingBaseWithComboBox;
}

class VxToolTip;

// An enumeration camera parameter: label above a combo box whose text can
// only be chosen from the list. The item stores no name: it derives it from
// its label whenever needed.
class SettingBaseWithComboBox : public QWidget
{
    Q_OBJECT

public:
    explicit SettingBaseWithComboBox(const std::string &name, QWidget *parent = nullptr);
    ~SettingBaseWithComboBox() override;

    void addItem(const QString &text);
    // The tip belongs to the combo box, not to the whole item.
    void setItemToolTip(const QString &text);

signals:
    void signalItemValueChanged(std::string name, std::string item);

public slots:
    // Values for another parameter name are ignored; a value equal to the
    // current one is not reported again.
    void slotItemValueChanged(std::string name, std::string value);

private slots:
    void cbCurrentTextChanged(const QString &text);

private:
    QString parameterName() const;

    Ui::SettingBaseWithComboBox *ui;
    VxToolTip *m_toolTip = nullptr;
};
