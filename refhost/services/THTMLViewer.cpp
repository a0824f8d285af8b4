#include "THTMLViewer.h"

#include <QApplication>
#include <QDialog>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace refhost {

std::filesystem::path HeadlessPageFolder(const THostContext& ctx) {
    std::filesystem::path folder = ctx.Config.ReadString("Headless", "Pages");
    const auto base = ctx.ConfigFile.empty() ? std::filesystem::temp_directory_path() /
                                                   ("refhost_pages_" + std::to_string(getpid()))
                                             : ctx.ConfigFile.parent_path();
    if (folder.empty())
        return ctx.ConfigFile.empty() ? base : base / "pages";
    return folder.is_relative() ? base / folder : folder;
}

std::filesystem::path WriteNewPage(const std::filesystem::path& folder, const std::string& html) {
    std::filesystem::create_directories(folder);
    for (int n = 1;; ++n) {
        const auto file = folder / ("page_" + std::to_string(n) + ".html");
        if (std::filesystem::exists(file))
            continue;
        std::ofstream out(file, std::ios::binary);
        out << html;
        out.close();
        if (!out)
            throw std::runtime_error("Cannot write the page " + file.string());
        return file;
    }
}

void THTMLViewer::ShowURL(const std::string& url) {
    FContext->Transcript.Write("URL", url);
    if (!FContext->Headless && qApp)
        ShowWindow({}, url);
}

void THTMLViewer::ShowHTML(const std::string& html) {
    if (!FContext->Headless && qApp) {
        ShowWindow(html, {});
        return;
    }
    FContext->Transcript.Write("HTML", WriteNewPage(HeadlessPageFolder(*FContext), html).string());
}

void THTMLViewer::ShowWindow(const std::string& html, const std::string& url) {
    QDialog window;
    window.setObjectName("frmHTMLViewer");
    window.setWindowTitle(QString::fromStdString(FCaption.empty() ? "[PALLUX] Report" : FCaption));
    window.resize(1100, 700);
    auto* layout = new QVBoxLayout(&window);
    auto* browser = new QTextBrowser(&window);
    browser->setObjectName("browser");
    browser->setOpenExternalLinks(true);
    // Relative names in the page (its style sheet) are found in the host's Res folder.
    browser->setSearchPaths({QString::fromStdString(FResFolder.string())});
    browser->document()->setBaseUrl(QUrl::fromLocalFile(QString::fromStdString(FResFolder.string() + "/")));
    if (url.empty())
        browser->setHtml(QString::fromStdString(html));
    else
        browser->setSource(QUrl(QString::fromStdString(url)));
    layout->addWidget(browser);
    window.exec();
}

} // namespace refhost
