#include "gui/settingswindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSlider>

#include "shell/file_dialogs.h"
#include "shell/messages.h"

#include <utility>

namespace gui {

namespace {

QString qt(const std::string& s) {
    return QString::fromStdString(s);
}

template <class W> W* place(W* w, const char* name, int x, int y, int width, int height) {
    w->setObjectName(name);
    w->setGeometry(x, y, width, height);
    return w;
}

} // namespace

SettingsWindow::SettingsWindow(shell::SettingsModel& cfg, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), cfg_(cfg) {
    setObjectName("Form4");
    setWindowTitle(".cfg");
    setFixedSize(ClientWidth, ClientHeight);

    place(new QLabel("Enter search URL:", this), "Label1", 8, 6, 200, 18);
    startlinks_ = place(new QListWidget(this), "startlinks", 8, 26, 432, 112);
    startlinks_->installEventFilter(this);
    Edit1_ = place(new QLineEdit(this), "Edit1", 8, 144, 432, 22);
    Edit1_->installEventFilter(this);
    addbut_ = place(new QPushButton("add", this), "addbut", 392, 144, 48, 22);
    addbut_->hide();

    useproxy_ = place(new QCheckBox("Use proxy:", this), "useproxy", 8, 178, 90, 20);
    useproxy_->setMouseTracking(true);
    useproxy_->installEventFilter(this);
    proxynamein_ = place(new QLineEdit(this), "proxynamein", 100, 177, 210, 22);
    proxynamein_->installEventFilter(this);
    place(new QLabel("Port:", this), "Label2", 320, 180, 34, 18);
    proxyportin_ = place(new QLineEdit(this), "proxyportin", 356, 177, 84, 22);
    proxyportin_->installEventFilter(this);

    checkupdate_ = place(new QCheckBox("Check for updates to search engines, and Wavetrap", this),
                         "checkupdate", 8, 210, 432, 20);
    checkupdate_->setToolTip("If Wavetrap takes a while to load, then deselect this option");
    usecute_ = place(new QCheckBox("Use CuteFTP 2.0 to download files [not reccomended]", this), "usecute", 8,
                     232, 432, 20);
    usecute_->setToolTip("Uses an external program to download files, so Wavetrap will not download if this "
                         "option is selected");
    Guideshow_ = place(new QCheckBox("Show Guide on startup", this), "Guideshow", 8, 254, 432, 20);

    place(new QLabel("Bandwidth usage: (Retry speed)", this), "Label3", 8, 280, 300, 18);
    place(new QLabel("High", this), "Label4", 8, 304, 32, 18);
    dfatime_ = place(new QSlider(Qt::Horizontal, this), "dfatime", 40, 300, 200, 26);
    dfatime_->setRange(1, 10);
    dfatime_->setPageStep(1);
    dfatime_->setTickInterval(2);
    dfatime_->setTickPosition(QSlider::TicksBelow);
    place(new QLabel("Low", this), "Label5", 246, 304, 32, 18);
    ontop_ =
        place(new QCheckBox("Make Wavetrap always stay in the foreground", this), "ontop", 8, 332, 432, 20);
    // The TLS of ftp:// links, beside the pace (the window keeps its size).
    place(new QLabel("FTP TLS:", this), "ftptlsLabel", 292, 304, 56, 18);
    ftptls_ = place(new QComboBox(this), "ftptls", 350, 300, 90, 24);
    for (const std::string& mode : shell::ftpTlsModeNames())
        ftptls_->addItem(QString::fromStdString(mode));
    ftptls_->setToolTip("ftp:// links: off (plain FTP), offered (TLS when the server has it), "
                        "required (TLS or nothing, never a log-in in clear)");

    // Hidden, as the program never shows them.
    for (const char* text : {"Where's CuteFTP?", "Find It..."})
        place(new QLabel(text, this), "Label6", 300, 280, 140, 18)->hide();
    found_ = place(new QLabel("Found!!!", this), "Label7", 300, 300, 140, 18);
    found_->hide();
    foundPath_ = place(new QLabel(this), "Label8", 300, 320, 140, 18);
    foundPath_->hide();
    place(new QPushButton(this), "Button1", 300, 300, 60, 22)->hide();

    // Every change goes to the model at once.
    connect(Edit1_, &QLineEdit::textEdited, this, [this](const QString& t) { cfg_.Edit1 = t.toStdString(); });
    connect(addbut_, &QPushButton::clicked, this, [this] {
        cfg_.Edit1 = Edit1_->text().toStdString();
        cfg_.addbutClick();
        Edit1_->setText(qt(cfg_.Edit1));
    });
    connect(startlinks_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!loading_) cfg_.startlinks.SetItemIndex(row);
    });
    connect(useproxy_, &QCheckBox::toggled, this, [this](bool on) { cfg_.proxy.useproxy = on; });
    connect(proxynamein_, &QLineEdit::textChanged, this,
            [this](const QString& t) { cfg_.proxy.proxynamein = t.toStdString(); });
    connect(proxyportin_, &QLineEdit::textChanged, this,
            [this](const QString& t) { cfg_.proxy.proxyportin = t.toStdString(); });
    connect(checkupdate_, &QCheckBox::toggled, this, [this](bool on) { cfg_.setCheckupdate(on); });
    connect(usecute_, &QCheckBox::toggled, this, [this](bool on) { cfg_.setUsecute(on); });
    connect(Guideshow_, &QCheckBox::toggled, this, [this](bool on) { cfg_.setGuideshow(on); });
    connect(dfatime_, &QSlider::valueChanged, this, [this](int v) {
        if (!loading_) cfg_.setDfatime(v);
    });
    connect(ontop_, &QCheckBox::toggled, this, [this](bool on) {
        if (!loading_) cfg_.setOntop(on);
    });
    connect(ftptls_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (!loading_) cfg_.setFtptlsName(text.toStdString());
    });
    auto& engines = cfg_.startlinks;
    engines.rowsInserted.connect(this, [this](int, int) { loadEngines(); });
    engines.rowsRemoved.connect(this, [this](int, int) { loadEngines(); });
    engines.wasReset.connect(this, [this] { loadEngines(); });
    engines.itemIndexChanged.connect(this, [this](int) { loadEngines(); });
    load();
}

bool SettingsWindow::manualfind(QWidget* parent, std::string& fileName) {
    QFileDialog dialog(parent);
    dialog.setObjectName("manualfind");
    dialog.setWindowTitle(ManualfindTitle);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter("cutftp32.exe (cutftp32.exe)");
    dialog.setDirectory(qt(shell::fileDialogFolder()));
    dialog.selectFile(qt(fileName));
    const bool ok = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    if (ok) fileName = dialog.selectedFiles().front().toStdString();
    return ok;
}

void SettingsWindow::loadEngines() {
    const bool was = std::exchange(loading_, true);
    QStringList items;
    for (const std::string& e : cfg_.startlinks.Items())
        items << qt(e);
    bool same = startlinks_->count() == items.size();
    for (int i = 0; same && i < items.size(); ++i)
        same = startlinks_->item(i)->text() == items[i];
    if (!same) {
        startlinks_->clear();
        startlinks_->addItems(items);
    }
    if (startlinks_->currentRow() != cfg_.startlinks.ItemIndex())
        startlinks_->setCurrentRow(cfg_.startlinks.ItemIndex());
    loading_ = was;
}

void SettingsWindow::load() {
    loading_ = true;
    loadEngines();
    Edit1_->setText(qt(cfg_.Edit1));
    useproxy_->setChecked(cfg_.proxy.useproxy);
    proxynamein_->setText(qt(cfg_.proxy.proxynamein));
    proxyportin_->setText(qt(cfg_.proxy.proxyportin));
    checkupdate_->setChecked(cfg_.checkupdate());
    usecute_->setChecked(cfg_.usecute());
    Guideshow_->setChecked(cfg_.Guideshow());
    dfatime_->setValue(cfg_.dfatime());
    ontop_->setChecked(cfg_.ontop());
    ftptls_->setCurrentText(shell::ftpTlsModeName(cfg_.ftptls()));
    found_->setVisible(cfg_.foundVisible);
    foundPath_->setText(qt(cfg_.foundPathLabel));
    loading_ = false;
}

void SettingsWindow::showSettings() {
    if (!isVisible()) {
        cfg_.Show();
        load();
        const auto& r = cfg_.placement.NormPos;
        if (r != std::array<int, 4>{288, 205, 288 + ClientWidth, 205 + ClientHeight}) {
            move(r[0], r[1]);
        } else if (const QScreen* s = QGuiApplication::primaryScreen()) {
            move(s->availableGeometry().center() - QPoint(ClientWidth / 2, ClientHeight / 2));
        }
    }
    show();
    raise();
    activateWindow();
}

void SettingsWindow::keyPressEvent(QKeyEvent* event) {
    // As in any dialog: Escape closes the window (its options are kept, as
    // with the close button); the boxes pass the key on to it.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    const QPoint at = pos();
    cfg_.placement.NormPos = {at.x(), at.y(), at.x() + ClientWidth, at.y() + ClientHeight};
    cfg_.FormClose();
    QWidget::closeEvent(event);
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (type == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (watched == Edit1_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            cfg_.Edit1 = Edit1_->text().toStdString();
            cfg_.Edit1KeyDown(shell::SettingsModel::Key_Return);
            Edit1_->setText(qt(cfg_.Edit1));
            return true;
        }
        if (watched == startlinks_ && key == Qt::Key_Delete) {
            cfg_.startlinksKeyDown(shell::SettingsModel::Key_Delete);
            return true;
        }
    } else if (type == QEvent::KeyRelease) {
        if (watched == proxynamein_) cfg_.proxynameinKeyUp();
        if (watched == proxyportin_) cfg_.proxyportinKeyUp();
    } else if (type == QEvent::MouseMove && watched == useproxy_) {
        cfg_.useproxyMouseMove();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace gui
