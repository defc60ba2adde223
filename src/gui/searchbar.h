#pragma once
// The toolbar (SpeedBar1): the search phrase box, its Search!, Download and
// Cancel buttons and the progress of a search, the "Get URL:" box, and the
// Views, Clear and Settings buttons. When the window is too narrow for all,
// the later ones go into the toolbar's overflow menu first.

#include <QToolBar>

class QComboBox;
class QMenu;
class QProgressBar;
class QToolButton;

namespace shell {
struct SearchControls;
}

namespace gui {

// The tooltip of the "Views" button.
inline constexpr const char* ViewsHint = "Show all results, the results by site or the download status";

class SearchBar : public QToolBar {
    Q_OBJECT
public:
    explicit SearchBar(QWidget* parent = nullptr);

    QComboBox* searchBox() const { return search_; }
    QComboBox* manualAddBox() const { return manualadd_; }
    QProgressBar* progressBar() const { return pbar_; }
    QToolButton* cancelButton() const { return cancelbut_; }
    QToolButton* viewsButton() const { return views_; }

    // Shows the state of the search: the progress (full once every engine
    // has answered), the cancel button, the phrase and its history.
    void showSearch(const shell::SearchControls& controls);
    // The history of the "Get URL:" box, newest first, and its text.
    void showManualAddHistory(const QStringList& items, const QString& text);
    // Opens a menu at a button: below it, or above it when the toolbar sits
    // at the bottom of the window.
    void popupAt(QToolButton* button, QMenu* menu);

signals:
    void searchEntered();    // Enter in the phrase box
    void manualAddEntered(); // Enter in the "Get URL:" box
    void viewsClicked();
    void searchClicked();
    void downloadClicked();
    void clearClicked();
    void settingsClicked();
    void cancelClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolButton* addButton(const char* name, const char* text, const char* hint, void (SearchBar::*signal)());
    void paintBox(QComboBox* box, bool focused);

    QComboBox* search_ = nullptr;
    QComboBox* manualadd_ = nullptr;
    QToolButton* views_ = nullptr;
    QToolButton* cancelbut_ = nullptr;
    QProgressBar* pbar_ = nullptr;
    QAction* cancelAction_ = nullptr;
    QAction* pbarAction_ = nullptr;
};

} // namespace gui
