#include "gui/troubleshootingwindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace gui {

namespace {

const char* const QuestionTexts[TroubleshootingWindow::Questions] = {
    "When I do a search, nothing comes up",
    "After I have done a search, what do I do next?",
    "I have tried to download files, but nothing happens",
    "Wavetrap takes a long time to start",
    "I have downloaded some .Mp3 files...now what?",
    "How do I stop trying to download files, so I can start downloading some other files?",
    "I am having some other problems",
};

const char* const Answers[TroubleshootingWindow::Questions] = {
    "Try a shorter phrase: one distinctive word from the title or the artist finds most. Open "
    "Windows > Details while searching: \"Still to be processed\" lists the queries not yet sent. "
    "If the table stays empty, the engines may have changed their address: check the engine list "
    "in Windows > Configuration, and the proxy settings there if your network needs a proxy.",
    "Pick the files you want from the table (Ctrl-click or Shift-click for several) and press "
    "\"Download\", or double-click a file. With nothing picked, Wavetrap downloads every file of "
    "the table. The window then shows the download status.",
    "Look at the download status (Views > Display download status). Many FTP sites are busy or gone; "
    "Wavetrap retries a site for a while and then gives up on it, and says why in the status bar. "
    "Try files from other sites: those higher in the table delivered files before. If the option "
    "to use an external FTP program is set in Windows > Configuration, Wavetrap writes scripts "
    "for that program instead of downloading itself.",
    "With \"Check for updates\" set in Windows > Configuration, Wavetrap asks the update server at "
    "every start; on a slow or closed network that takes a while. Switch the option off.",
    "The files are in the folder Wavetrap was started from (your home folder when started from "
    "the desktop menu). Open them with any music player, for example from your file manager.",
    "Open the download status (Views > Display download status), select the rows of the "
    "connections to stop (the Port column) and double-click, or right-click and choose \"Cancel "
    "Download\". Then pick the new files and press \"Download\".",
    "Windows > Log lists every download started; Windows > Details shows what the connections "
    "say while it is open. Reset > Statistics forgets the scores of all sites and the downloads "
    "kept for the next start. Start wavetrap-cli from a terminal to see the same work as text.",
};

} // namespace

const char* TroubleshootingWindow::question(int n) {
    return QuestionTexts[n - 1];
}

QWidget* TroubleshootingWindow::tagged(QWidget* control, int tag) {
    control->setProperty("tag", tag);
    if (auto* b = qobject_cast<QAbstractButton*>(control))
        connect(b, &QAbstractButton::clicked, this, [this, tag] { Button1Click(tag); });
    if (auto* l = qobject_cast<QLabel*>(control))
        connect(l, &QLabel::linkActivated, this, [this, tag] { Button1Click(tag); });
    return control;
}

// A tool window of the main window, as the help and details windows: it
// stands in front of the main window also when that one stays on top.
TroubleshootingWindow::TroubleshootingWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setObjectName("troublehelp");
    setWindowTitle("Help");
    auto* col = new QVBoxLayout(this);
    notebook_ = new QStackedWidget(this);
    col->addWidget(notebook_);

    auto* index = new QWidget(notebook_);
    auto* list = new QVBoxLayout(index);
    list->addWidget(new QLabel("<b>Troubleshooting</b>", index));
    for (int n = 1; n <= Questions; ++n) {
        auto* row = new QHBoxLayout;
        auto* button = new QToolButton(index);
        button->setText("?");
        button->setObjectName(QString("question%1").arg(n));
        auto* label = new QLabel(index);
        label->setText(QString("<a href=\"#%1\">%2</a>").arg(n).arg(QString(question(n)).toHtmlEscaped()));
        label->setWordWrap(true);
        row->addWidget(tagged(button, n));
        row->addWidget(tagged(label, n), 1);
        list->addLayout(row);
    }
    list->addStretch(1);
    notebook_->addWidget(index);

    for (int n = 1; n <= Questions; ++n) {
        auto* page = new QWidget(notebook_);
        auto* v = new QVBoxLayout(page);
        auto* q = new QLabel(QString("<b>%1</b>").arg(QString(question(n)).toHtmlEscaped()), page);
        q->setWordWrap(true);
        v->addWidget(q);
        auto* a = new QLabel(Answers[n - 1], page);
        a->setWordWrap(true);
        a->setAlignment(Qt::AlignTop | Qt::AlignLeft);
        v->addWidget(a, 1);
        auto* back = new QPushButton("Back", page);
        back->setObjectName(QString("back%1").arg(n));
        v->addWidget(tagged(back, 0), 0, Qt::AlignRight);
        notebook_->addWidget(page);
    }
    resize(460, 380);
}

void TroubleshootingWindow::Button1Click(int tag) {
    notebook_->setCurrentIndex(tag);
}

} // namespace gui
