#include "THostServices.h"

#include "TEventManager.h"
#include "clsSysUtils.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace refhost {

// ---- settings

namespace {

std::string ReadWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A write can land within one tick of the file system's coarse clock after the file was read,
// keeping time and size (ZumvoStoreID=77 -> 88): within this margin the text is compared.
constexpr auto RacyMargin = std::chrono::seconds(2);

} // namespace

void TINISettings::Open(const std::string& fileName, const std::string& section) {
    FFile = TIniFile(pallux::Utf8ToPath(fileName));
    FRoot = section;
    FStamp = {};
    Load();
}

TINISettings::TFileStamp TINISettings::StampOf(const std::filesystem::path& file) {
    std::error_code ec;
    TFileStamp stamp;
    stamp.Time = std::filesystem::last_write_time(file, ec);
    stamp.Exists = !ec;
    stamp.Size = stamp.Exists ? std::filesystem::file_size(file, ec) : 0;
    return ec ? TFileStamp{} : stamp;
}

void TINISettings::Load() {
    const auto& file = FFile.FileName();
    const TFileStamp stamp = StampOf(file);
    const auto now = std::filesystem::file_time_type::clock::now();
    std::string text = stamp.Exists ? ReadWholeFile(file) : std::string();
    if (stamp == FStamp && text == FText) {
        FReadAt = now;
        return;
    }
    FFile = TIniFile(file); // a malformed file raises: this read fails, the next one reads again
    FStamp = stamp;
    FText = std::move(text);
    FReadAt = now;
}

void TINISettings::Refresh() {
    const TFileStamp now = StampOf(FFile.FileName());
    const bool racy = now.Exists && now.Time + RacyMargin >= FReadAt;
    if (now != FStamp || racy)
        Load();
}

std::optional<std::string> TINISettings::Lookup(const std::string& key, const std::string& profile) {
    Refresh();
    if (!profile.empty())
        if (auto v = FFile.Read(FRoot + "." + profile, key))
            return v;
    return FFile.Read(FRoot, key);
}

std::string TINISettings::ReadString(const std::string& key, const std::string& profile) {
    return Lookup(key, profile).value_or("");
}

std::int32_t TINISettings::ReadInteger(const std::string& key, const std::string& profile) {
    const auto text = Lookup(key, profile);
    if (!text)
        throw std::runtime_error("Setting " + key + " is missing in " + FFile.FileName().string());
    const auto value = ParseWholeNumber(*text);
    if (!value)
        throw std::runtime_error("'" + *text + "' is not a valid integer value for setting " + key);
    return *value;
}

void TINISettings::WriteString(const std::string& key, const std::string& profile, const std::string& value) {
    Refresh();
    FFile.Write(profile.empty() ? FRoot : FRoot + "." + profile, key, value);
    FFile.Save();
    FStamp = {};
    Load();
}

// ---- identity

std::int32_t THostIdentity::GetHostStoreID() {
    return FContext->Config.ReadInteger("Host", "StoreID", 0);
}

std::int32_t THostIdentity::GetHostTillID() {
    return FContext->Config.ReadInteger("Host", "TillID", 0);
}

// ---- messages

std::string ButtonName(std::int32_t button) {
    switch (button) {
    case pallux::mbYes:
        return "Yes";
    case pallux::mbNo:
        return "No";
    case pallux::mbOK:
        return "OK";
    case pallux::mbCancel:
        return "Cancel";
    default:
        return std::to_string(button);
    }
}

namespace {

const char* TypeText(std::int32_t msgType) {
    switch (msgType) {
    case pallux::mtWarning:
        return "warning";
    case pallux::mtError:
        return "error";
    case pallux::mtInformation:
        return "information";
    case pallux::mtConfirmation:
        return "confirmation";
    default:
        return "message";
    }
}

// The answer a message gives for the button pressed.
std::int32_t AnswerOf(std::int32_t button) {
    switch (button) {
    case pallux::mbYes:
        return pallux::mrYes;
    case pallux::mbNo:
        return pallux::mrNo;
    case pallux::mbCancel:
        return pallux::mrCancel;
    default:
        return pallux::mrOK;
    }
}

std::int32_t FirstButton(std::int32_t buttons) {
    for (std::int32_t bit = 1; bit <= buttons; bit <<= 1)
        if (buttons & bit)
            return bit;
    return pallux::mbOK;
}

std::int32_t AskQt(const std::string& text, std::int32_t msgType, std::int32_t buttons) {
    QMessageBox box;
    box.setWindowTitle(QApplication::applicationName());
    box.setText(QString::fromStdString(text));
    box.setIcon(msgType == pallux::mtError          ? QMessageBox::Critical
                : msgType == pallux::mtWarning      ? QMessageBox::Warning
                : msgType == pallux::mtConfirmation ? QMessageBox::Question
                                                    : QMessageBox::Information);
    const std::pair<std::int32_t, QMessageBox::StandardButton> map[] = {
        {pallux::mbYes, QMessageBox::Yes},
        {pallux::mbNo, QMessageBox::No},
        {pallux::mbOK, QMessageBox::Ok},
        {pallux::mbCancel, QMessageBox::Cancel}};
    QMessageBox::StandardButtons qtButtons;
    for (const auto& [bit, qt] : map)
        if (buttons & bit)
            qtButtons |= qt;
    box.setStandardButtons(qtButtons ? qtButtons : QMessageBox::Ok);
    const int pressed = box.exec();
    for (const auto& [bit, qt] : map)
        if (pressed == qt)
            return bit;
    return pallux::mbCancel;
}

} // namespace

std::int32_t TDisplayMessage::Show(const std::string& text, std::int32_t msgType, std::int32_t buttons) {
    FContext->Transcript.Write("MESSAGE", std::string(TypeText(msgType)) + ": " + text);
    if (!FContext->Headless && qApp)
        return AnswerOf(AskQt(text, msgType, buttons));
    std::int32_t pressed = FirstButton(buttons);
    if (!FContext->MessageAnswers.empty()) {
        pressed = FContext->MessageAnswers.front();
        FContext->MessageAnswers.pop_front();
    }
    if (FContext->TranscribeAnswers)
        FContext->Transcript.Write("ANSWER", ButtonName(pressed));
    return AnswerOf(pressed);
}

std::int32_t TDisplayMessage::ShowMessage(const std::string& text, std::int32_t msgType,
                                          std::int32_t buttons) {
    return Show(text, msgType, buttons);
}

std::int32_t TDisplayMessage::ShowIdentifiedMessage(const std::string& text, const std::string&, std::int32_t,
                                                    std::int32_t msgType, std::int32_t buttons) {
    return Show(text, msgType, buttons);
}

std::int32_t TDisplayMessage::ShowKeyedMessage(const std::string& text, const std::string&,
                                               std::int32_t buttons, std::int32_t) {
    return Show(text, pallux::mtInformation, buttons);
}

// ---- activity

TActivityMessage::TActivityMessage(std::shared_ptr<THostContext> ctx) : FContext(std::move(ctx)) {}

TActivityMessage::~TActivityMessage() = default;

void TActivityMessage::Display(const std::string& kind, const std::string& text) {
    FContext->Transcript.Write(kind, text);
    if (FContext->Headless || !qApp)
        return;
    if (!FLabel) {
        FLabel = std::make_unique<QLabel>();
        FLabel->setWindowFlags(Qt::SplashScreen | Qt::WindowStaysOnTopHint);
        FLabel->setMargin(16);
    }
    FLabel->setText(QString::fromStdString(text));
    FLabel->adjustSize();
    FLabel->show();
    QApplication::processEvents();
}

void TActivityMessage::ShowActivity(const std::string& text, std::int32_t) {
    Display("ACTIVITY", text);
}

void TActivityMessage::UpdateActivity(const std::string& text, std::int32_t) {
    Display("ACTIVITY UPDATE", text);
}

// ---- registration

void RegisterCoreServices(TDIContainer& container, const std::shared_ptr<THostContext>& ctx) {
    container.RegisterInstance(pallux::IEventManager::IID, pallux::MakeIntf<TEventManager>().get());
    RegisterHostFactory<pallux::IINISettings>(container, [] { return pallux::MakeIntf<TINISettings>(); });
    RegisterHostFactory<pallux::IStoreIdentity>(container,
                                                [ctx] { return pallux::MakeIntf<THostIdentity>(ctx); });
    RegisterHostFactory<pallux::ITillIdentity>(
        container, [ctx] { return pallux::MakeIntf<THostIdentity>(ctx).as<pallux::ITillIdentity>(); });
    RegisterHostFactory<pallux::IDisplayMessage>(container,
                                                 [ctx] { return pallux::MakeIntf<TDisplayMessage>(ctx); });
    RegisterHostFactory<pallux::IActivityMessage>(container,
                                                  [ctx] { return pallux::MakeIntf<TActivityMessage>(ctx); });
}

} // namespace refhost
