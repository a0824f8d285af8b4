// The host's HTML viewer. With a display, each page opens in a window (a QTextBrowser whose base
// is the host's Res folder, so the pages' style sheets apply) that the user closes; headless,
// each page is written to a file of its own and the file is named in the transcript
// ("HTML: /path/page_1.html").
#pragma once

#include "THostContext.h"
#include "clsInterfacedObject.h"
#include "intfHTMLViewer.h"

#include <filesystem>
#include <memory>
#include <string>

namespace refhost {

class THTMLViewer : public pallux::TInterfacedObject<pallux::IHTMLViewer> {
public:
    // resFolder: the host's style sheets and pictures.
    THTMLViewer(std::shared_ptr<THostContext> ctx, std::filesystem::path resFolder)
        : FContext(std::move(ctx)), FResFolder(std::move(resFolder)) {}

    void PALLUX_CALL SetCaption(const std::string& caption) override { FCaption = caption; }
    void PALLUX_CALL ShowURL(const std::string& url) override;
    void PALLUX_CALL Clear() override { FCaption.clear(); }
    void PALLUX_CALL ShowHTML(const std::string& html) override;

private:
    std::shared_ptr<THostContext> FContext;
    std::filesystem::path FResFolder;
    std::string FCaption;

    void ShowWindow(const std::string& html, const std::string& url);
};

// The folder headless pages go to: [Headless] Pages (relative to the configuration file), else
// "pages" beside the configuration file, else one in the system's temporary folder.
std::filesystem::path HeadlessPageFolder(const THostContext& ctx);

// Writes a page to a new file page_<n>.html of the folder (made when missing); answers its path.
std::filesystem::path WriteNewPage(const std::filesystem::path& folder, const std::string& html);

} // namespace refhost
