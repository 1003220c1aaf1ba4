#include "ui/AboutDialog.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QVBoxLayout>

#include <korvik/USBDevice.h>

AboutDialog::AboutDialog(QObject* application_, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), application(application_)
{
    resize(515, 342);
    setWindowIcon(QIcon(QStringLiteral(":/images/CORVANE_Waves.png")));
    setWindowTitle(tr("About RC Parameter Calculator..."));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("label"));
    logo->setPixmap(QPixmap(QStringLiteral(":/images/CORVANE_Logo_final_CMYK.svg")));
    logo->setMaximumSize(165, 30);
    logo->setScaledContents(true);
    auto* title = new QLabel(this);
    title->setObjectName(QStringLiteral("label_2"));
    title->setWordWrap(true);
    title->setTextFormat(Qt::RichText);
    title->setText(tr("<span style=\"font-size:9pt;\"><b>Parameter Calculator</b> - Corvane AG Generation 2 Parameter Calculator</span>"));
    top->addWidget(logo);
    top->addWidget(title, 1);
    layout->addLayout(top);

    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabWidget"));
    auto* about = new QWidget;
    about->setObjectName(QStringLiteral("tababout"));
    auto* aboutlayout = new QVBoxLayout(about);
    auto* labelabout = new QLabel(about);
    labelabout->setObjectName(QStringLiteral("labelabout"));
    labelabout->setWordWrap(true);
    labelabout->setTextFormat(Qt::RichText);
    labelabout->setText(about_text());
    labelabout->adjustSize();
    aboutlayout->addWidget(labelabout);
    aboutlayout->addStretch(1);
    tabs->addTab(about, tr("A&bout"));
    auto* authors = new QWidget;
    authors->setObjectName(QStringLiteral("tabauthors"));
    auto* authorslayout = new QVBoxLayout(authors);
    auto* labelauthors = new QLabel(tr("Written by the korvik developers."), authors);
    labelauthors->setObjectName(QStringLiteral("labelauthors"));
    authorslayout->addWidget(labelauthors);
    authorslayout->addStretch(1);
    tabs->addTab(authors, tr("&Authors"));
    layout->addWidget(tabs, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* close = new QPushButton(QIcon(QStringLiteral(":/images/fileclose.png")),
                                  tr("Close"), this);
    close->setObjectName(QStringLiteral("buttonclose"));
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(close, &QPushButton::clicked, this, &AboutDialog::quit);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

QString AboutDialog::about_text()
{
    QStringList chips;
    for (const std::string& chip : KORVIK::USBDevice::get_supported_chips())
        chips << QString::fromStdString(chip);
    // one substitution, so a "%n" inside a value stays as it is
    return tr("<p><b>Corvane AG Parameter Calculator</b></p><p>Version %1</p><p></p>"
              "<p>Greyfin Library Version %2</p><p>Supported Chips: %3</p>")
        .arg(QStringLiteral("V1.7"), QString::fromStdString(KORVIK::USBDevice::get_version()),
             chips.join(QStringLiteral(", ")));
}

void AboutDialog::quit()
{
    deleteLater();
}
