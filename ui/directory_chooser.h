#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLineEdit;
class QTreeView;

namespace ui {

class Toolkit;

// The directory chooser: a folder tree and a field where the user may also
// type a directory. With sdAllowCreate a directory that does not exist yet is
// accepted, after a Yes to the toolkit's question when sdPrompt is set, and
// created with its missing parents when sdPerformCreate is set.
class DirectoryChooser : public QDialog {
    Q_OBJECT

public:
    DirectoryChooser(const QString& start, unsigned options, Toolkit& toolkit, QWidget* parent = nullptr);

    // The chosen directory as the user sees it in the field.
    QString Directory() const;

    QLineEdit* PathEdit() const { return pathEdit_; }

    void accept() override;

private:
    void ShowInTree(const QString& path);

    unsigned options_;
    Toolkit& toolkit_;
    QFileSystemModel* model_;
    QTreeView* tree_;
    QLineEdit* pathEdit_;
};

} // namespace ui
