#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QRegularExpression>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <map>
#include <string_view>

#include "manager/client_procs.h"
#include "manager/manager_windows.h"
#include "settings/app_info.h"
#include "settings/registry.h"

namespace tallix::manager {
namespace {

constexpr std::string_view kHelpSubdir = "help";
constexpr std::string_view kContentsPage = "contents.html";

// One page per help context the program opens.
const std::map<int, const char*>& ContextPages() {
    static const std::map<int, const char*> pages = {
        {kHelpContextEditor, "editor.html"},
        {kHelpContextOptions, "options.html"},
        {kHelpContextSupport, "support.html"},
        {kHelpContextGettingStarted, "getting-started.html"},
        {kHelpContextOrdering, "ordering.html"},
    };
    return pages;
}

QString ReadText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

QPointer<FrmHelp>& TheHelpWindow() {
    static QPointer<FrmHelp> window;
    return window;
}

}  // namespace

QString HelpDirectory() {
    const QString beside = QString::fromStdString(JoinPath(DataDir(), kHelpSubdir));
    if (QFileInfo(beside).isDir()) return beside;
    // An installed copy keeps the help set with the documentation:
    // <prefix>/share/doc/tallix/html beside <prefix>/share/tallix.
    const QString installed =
        QDir::cleanPath(QString::fromStdString(DataDir()) + "/../doc/tallix/html");
    if (QFileInfo(installed).isDir()) return installed;
    return beside;
}

QString HelpPageForContext(int context) {
    auto it = ContextPages().find(context);
    return it == ContextPages().end() ? QString() : QString::fromLatin1(it->second);
}

FrmHelp::FrmHelp(QWidget* parent) : QWidget(parent, Qt::Window), m_dir(HelpDirectory()) {
    setObjectName("frmHelp");
    CloseWithKeys(this);
    setWindowTitle(QString::fromStdString(LoadResString(kResProductName)) + " Help");
    auto* layout = new QVBoxLayout(this);
    auto* splitter = new QSplitter(this);
    tabs = new QTabWidget(splitter);
    tvContents = new QTreeWidget(tabs);
    tvContents->setObjectName("tvContents");
    tvContents->setAccessibleName("Contents");
    tvContents->setHeaderHidden(true);
    tvContents->setRootIsDecorated(false);
    tabs->addTab(tvContents, "&Contents");
    auto* indexPage = new QWidget(tabs);
    auto* indexLayout = new QVBoxLayout(indexPage);
    txtKeyword = new QLineEdit(indexPage);
    txtKeyword->setObjectName("txtKeyword");
    txtKeyword->setAccessibleName("Keyword");
    txtKeyword->setPlaceholderText("Type the first letters of a keyword");
    lstKeywords = new QListWidget(indexPage);
    lstKeywords->setObjectName("lstKeywords");
    lstKeywords->setAccessibleName("Keywords");
    indexLayout->addWidget(txtKeyword);
    indexLayout->addWidget(lstKeywords);
    tabs->addTab(indexPage, "&Index");
    browser = new QTextBrowser(splitter);
    browser->setObjectName("browser");
    browser->setAccessibleName("Help page");
    browser->setSearchPaths({m_dir});
    browser->setOpenExternalLinks(true);
    splitter->addWidget(tabs);
    splitter->addWidget(browser);
    splitter->setStretchFactor(1, 3);
    layout->addWidget(splitter);
    const QFontMetrics fm(font());
    resize(fm.horizontalAdvance(QString(110, 'x')), fm.height() * 36);

    connect(tvContents, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { ShowPage(item->data(0, Qt::UserRole).toString()); });
    connect(tvContents, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { ShowPage(item->data(0, Qt::UserRole).toString()); });
    connect(lstKeywords, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { ShowPage(item->data(Qt::UserRole).toString()); });
    connect(lstKeywords, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { ShowPage(item->data(Qt::UserRole).toString()); });
    connect(txtKeyword, &QLineEdit::textChanged, this, [this](const QString& text) {
        // Like a printed index: jump to the first keyword that begins with what was typed.
        for (int i = 0; i < lstKeywords->count(); ++i) {
            if (lstKeywords->item(i)->text().startsWith(text, Qt::CaseInsensitive)) {
                lstKeywords->setCurrentRow(i);
                lstKeywords->scrollToItem(lstKeywords->item(i), QAbstractItemView::PositionAtTop);
                return;
            }
        }
    });
    connect(txtKeyword, &QLineEdit::returnPressed, this, [this] {
        if (QListWidgetItem* item = lstKeywords->currentItem())
            ShowPage(item->data(Qt::UserRole).toString());
    });
    LoadContents();
    LoadIndex();
}

void FrmHelp::LoadContents() {
    // The contents tab lists the links of the contents page in their order.
    static const QRegularExpression link(QStringLiteral("<a href=\"([^\"#]+)\">([^<]+)</a>"));
    const QString html = ReadText(m_dir + "/" + QString::fromUtf8(kContentsPage));
    for (auto it = link.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        auto* item = new QTreeWidgetItem(tvContents, {m.captured(2)});
        item->setData(0, Qt::UserRole, m.captured(1));
    }
}

void FrmHelp::LoadIndex() {
    // Each page names its keywords in <meta name="keywords" content="a, b, c">.
    static const QRegularExpression meta(
        QStringLiteral("<meta name=\"keywords\" content=\"([^\"]*)\""));
    std::multimap<QString, QString> entries;  // keyword (sorted without case) -> page
    const QStringList pages = QDir(m_dir).entryList({"*.html"}, QDir::Files, QDir::Name);
    for (const QString& page : pages) {
        const auto m = meta.match(ReadText(m_dir + "/" + page));
        if (!m.hasMatch()) continue;
        for (const QString& k : m.captured(1).split(',', Qt::SkipEmptyParts))
            entries.emplace(k.trimmed().toLower() + QChar(0) + k.trimmed(), page);
    }
    for (const auto& [key, page] : entries) {
        auto* item = new QListWidgetItem(key.section(QChar(0), 1), lstKeywords);
        item->setData(Qt::UserRole, page);
    }
}

void FrmHelp::ShowPage(const QString& fileName) {
    if (fileName.isEmpty()) return;
    browser->setSource(QUrl::fromLocalFile(m_dir + "/" + fileName));
}

void FrmHelp::ShowIndex(const QString& key) {
    tabs->setCurrentIndex(1);
    txtKeyword->setText(key);
    txtKeyword->setFocus();
}

FrmHelp* HelpWindow() {
    auto& window = TheHelpWindow();
    if (!window) {
        window = new FrmHelp;
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void ShowHelpContents() {
    FrmHelp* help = HelpWindow();
    help->tabs->setCurrentIndex(0);
    help->ShowPage(QString::fromUtf8(kContentsPage));
}

void ShowHelpIndex(const QString& key) {
    HelpWindow()->ShowIndex(key);
}

}  // namespace tallix::manager
