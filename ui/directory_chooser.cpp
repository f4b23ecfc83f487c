#include "ui/directory_chooser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/toolkit.h"

namespace ui {

namespace {

std::string ToBytes(const QString& text) { return text.toUtf8().toStdString(); }

const char* const kCaption = "Select Directory";

} // namespace

DirectoryChooser::DirectoryChooser(const QString& start, unsigned options, Toolkit& toolkit, QWidget* parent)
    : QDialog(parent), options_(options), toolkit_(toolkit), model_(new QFileSystemModel(this)),
      tree_(new QTreeView(this)), pathEdit_(new QLineEdit(this)) {
    setWindowTitle(QString::fromLatin1(kCaption));

    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    model_->setRootPath(QDir::rootPath());
    tree_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column) {
        tree_->hideColumn(column);
    }
    tree_->setHeaderHidden(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* pathLabel = new QLabel(QStringLiteral("&Directory name:"), this);
    pathLabel->setBuddy(pathEdit_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Directories:"), this));
    layout->addWidget(tree_);
    layout->addWidget(pathLabel);
    layout->addWidget(pathEdit_);
    layout->addWidget(buttons);
    resize(360, 400);

    connect(buttons, &QDialogButtonBox::accepted, this, &DirectoryChooser::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DirectoryChooser::reject);
    connect(tree_, &QTreeView::clicked, this,
            [this](const QModelIndex& index) { pathEdit_->setText(model_->filePath(index)); });

    // With no starting directory the chooser opens where the program stands.
    const QString initial = start.isEmpty() ? QDir::currentPath() : start;
    pathEdit_->setText(initial);
    ShowInTree(initial);
    pathEdit_->setFocus();
}

QString DirectoryChooser::Directory() const { return pathEdit_->text(); }

void DirectoryChooser::ShowInTree(const QString& path) {
    const QModelIndex index = model_->index(QFileInfo(path).absoluteFilePath());
    if (index.isValid()) {
        tree_->setCurrentIndex(index);
        tree_->scrollTo(index);
    }
}

void DirectoryChooser::accept() {
    const QString path = Directory();
    if (path.isEmpty()) {
        return;
    }
    const QFileInfo info(path);
    if (info.isDir()) {
        QDialog::accept();
        return;
    }
    if (info.exists()) {
        toolkit_.MessageBox(ToBytes(QStringLiteral("\"%1\" is not a directory.").arg(path)), kCaption, MB_ICONERROR);
        return;
    }
    if ((options_ & sdAllowCreate) == 0) {
        toolkit_.MessageBox(ToBytes(QStringLiteral("The directory \"%1\" does not exist.").arg(path)), kCaption,
                            MB_ICONERROR);
        return;
    }
    if ((options_ & sdPrompt) != 0 &&
        toolkit_.MessageBox("The directory \"" + ToBytes(path) + "\" does not exist. Create it?", "Confirm",
                            MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    if ((options_ & sdPerformCreate) != 0 && !QDir().mkpath(path)) {
        toolkit_.MessageBox("Could not create the directory \"" + ToBytes(path) + "\".", kCaption, MB_ICONERROR);
        return;
    }
    QDialog::accept();
}

} // namespace ui
