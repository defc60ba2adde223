#include "gui/searchbar.h"

#include "gui/listmodel.h"
#include "shell/wavetrap.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace gui {

namespace {

constexpr int SpeedBarHeight = 57;
constexpr int BoxCharacters = 14; // the boxes' narrowest width, in characters

QComboBox* makeBox(QWidget* parent, const char* name, const char* hint) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setToolTip(hint);
    c->setMinimumContentsLength(BoxCharacters);
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return c;
}

} // namespace

SearchBar::SearchBar(QWidget* parent) : QToolBar("Toolbar", parent) {
    setObjectName("SpeedBar1");
    setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
    setFloatable(false);
    setFixedHeight(SpeedBarHeight);
    // Button texts: red under the mouse, maroon while pressed, black otherwise.
    setStyleSheet("QToolButton { color: black; padding: 2px 6px; }"
                  "QToolButton:hover { color: red; }"
                  "QToolButton:pressed { color: maroon; }");

    auto labelled = [this](const char* text, QComboBox* box) {
        auto* holder = new QWidget(this);
        auto* l = new QVBoxLayout(holder);
        l->setContentsMargins(4, 2, 4, 2);
        l->setSpacing(2);
        l->addWidget(new QLabel(text, holder));
        l->addWidget(box);
        // Focus and Enter are taken at the box, which holds the focus for its
        // line edit (keys typed on a keyboard come this way), and at the line edit.
        box->installEventFilter(this);
        box->lineEdit()->installEventFilter(this);
        paintBox(box, false);
        return holder;
    };
    search_ = makeBox(this, "search", "Enter a word from the name of a song");
    addWidget(labelled("Enter search phrase:", search_));
    addButton("RxSpeedButton2", "Search!", "Search!", &SearchBar::searchClicked);
    addButton("b1", "Download", "Download selected files", &SearchBar::downloadClicked);
    cancelbut_ = addButton("cancelbut", "Cancel", "Cancel Search", &SearchBar::cancelClicked);
    cancelAction_ = actions().back();
    pbar_ = new QProgressBar(this);
    pbar_->setObjectName("pbar");
    pbar_->setRange(0, shell::SearchControls{}.pbarMax);
    pbar_->setTextVisible(false);
    pbar_->setFixedSize(80, 14);
    pbarAction_ = addWidget(pbar_);
    pbarAction_->setVisible(false);
    cancelAction_->setVisible(false);

    // The URL box takes the spare width; long URLs lose their beginning, not their file name.
    manualadd_ = makeBox(this, "manualadd", "Enter a URL to download");
    manualadd_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    manualadd_->view()->setTextElideMode(Qt::ElideLeft);
    QWidget* url = labelled("Get URL:", manualadd_);
    url->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    addWidget(url);
    views_ = addButton("RxSpeedButton5", "Views", ViewsHint, &SearchBar::viewsClicked);
    addButton("RxSpeedButton3", "Clear", "Clear file list", &SearchBar::clearClicked);
    addButton("RxSpeedButton4", "Settings", "Settings", &SearchBar::settingsClicked);
}

QToolButton* SearchBar::addButton(const char* name, const char* text, const char* hint,
                                  void (SearchBar::*signal)()) {
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(hint);
    b->setAutoRaise(true); // flat
    addWidget(b);
    connect(b, &QToolButton::clicked, this, signal);
    return b;
}

void SearchBar::showSearch(const shell::SearchControls& d) {
    pbar_->setRange(0, d.pbarMax);
    pbar_->setValue(d.pbarPosition);
    pbarAction_->setVisible(d.pbarVisible);
    cancelAction_->setVisible(d.cancelVisible);
    QStringList items;
    for (const auto& s : d.history)
        items << toQt(s);
    bool same = items.size() == search_->count();
    for (int i = 0; same && i < items.size(); ++i)
        same = search_->itemText(i) == items[i];
    if (!same) {
        const QSignalBlocker block(search_);
        search_->clear();
        search_->addItems(items);
    }
    if (search_->currentText() != toQt(d.text)) search_->setEditText(toQt(d.text));
}

void SearchBar::showManualAddHistory(const QStringList& items, const QString& text) {
    const QSignalBlocker block(manualadd_);
    manualadd_->clear();
    manualadd_->addItems(items);
    manualadd_->setEditText(text);
}

void SearchBar::popupAt(QToolButton* button, QMenu* menu) {
    const QMainWindow* main = qobject_cast<const QMainWindow*>(parentWidget());
    const bool bottom = main && main->toolBarArea(const_cast<SearchBar*>(this)) == Qt::BottomToolBarArea;
    const QPoint at = bottom ? button->mapToGlobal(QPoint(0, -menu->sizeHint().height()))
                             : button->mapToGlobal(QPoint(0, button->height()));
    menu->popup(at);
}

void SearchBar::paintBox(QComboBox* box, bool focused) {
    // White while it has the focus, the button face after; the text stays black.
    QPalette p = box->lineEdit()->palette();
    p.setColor(QPalette::Base, focused ? QColor(Qt::white) : p.color(QPalette::Button));
    p.setColor(QPalette::Text, Qt::black);
    box->lineEdit()->setPalette(p);
}

bool SearchBar::eventFilter(QObject* watched, QEvent* event) {
    // (Events come while the boxes are still being built.)
    const bool phrase = search_ && (watched == search_ || watched == search_->lineEdit());
    const bool url = manualadd_ && (watched == manualadd_ || watched == manualadd_->lineEdit());
    if (event->type() == QEvent::KeyPress && (phrase || url)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (phrase)
                emit searchEntered();
            else
                emit manualAddEntered();
            return true;
        }
    } else if ((event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) &&
               ((phrase && watched == search_) || (url && watched == manualadd_))) {
        paintBox(static_cast<QComboBox*>(watched), event->type() == QEvent::FocusIn);
    }
    return QToolBar::eventFilter(watched, event);
}

} // namespace gui
