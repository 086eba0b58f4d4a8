#pragma once

#include <QWidget>

namespace Ui {
class SettingItemBox;
}

// A collapsible section of a settings panel: a 30 px title bar with a fold
// button above a column of items. A new box starts collapsed.
class SettingItemBox : public QWidget
{
    Q_OBJECT

public:
    explicit SettingItemBox(QWidget *parent = nullptr);
    ~SettingItemBox() override;

    void setTitle(const QString &title);

    // Append / insert an item into the column; the box takes ownership.
    void addItem(QWidget *item);
    void insertItem(QWidget *item, int position);

    // folded = collapsed: the items are hidden and the fold button checked.
    void setFold(bool folded);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_pb_fold_clicked(bool checked);

private:
    void applyFoldLook(bool folded);
    void refreshSizes(QWidget *item);

    Ui::SettingItemBox *ui;
};
