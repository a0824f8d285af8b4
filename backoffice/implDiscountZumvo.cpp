#include "implDiscountZumvo.h"

#include "JsonDocument.h"
#include "clsModuleContainer.h"
#include "intfDisplayMessage.h"

namespace zumvo {

// The host handles an error raised here itself (for example when it offers no message service).
void TZumvoDynamicDiscount::ApplyDiscount(const std::string& /*request*/, std::string& result) {
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    CreateService(messages);
    Use(messages, "DisplayMessage")
        .ShowIdentifiedMessage("Please use the voucher feature instead!",
                               "{D757DF19-767C-499A-B826-14B7088A7386}", 10, pallux::mtInformation,
                               pallux::mbOK);
    TJSONDocument answer = TJSONDocument::NewObject();
    answer.Add("Result", false);
    result = answer.ToJSON();
}

} // namespace zumvo
