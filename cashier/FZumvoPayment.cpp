#include "FZumvoPayment.h"

#include "ZumvoLog.h"

namespace zumvo {

struct TfrmZumvoPayment::TImpl {
    TJSONDocument RedeemedList = TJSONDocument::NewArray();
    double ProcessedTotal = 0;
};

TfrmZumvoPayment::TfrmZumvoPayment(QWidget* parent) : QDialog(parent), FImpl(std::make_unique<TImpl>()) {
    setObjectName("frmZumvoPayment");
    setWindowTitle("Zumvo Payment");
}

TfrmZumvoPayment::~TfrmZumvoPayment() = default;

bool TfrmZumvoPayment::GetPayment(const TJSONDocument& invoiceData,
                                  pallux::IntfPtr<pallux::IINISettings> settings) {
    bool ok = false;
    Guarded("TfrmZumvoPayment.GetPayment", [&] {
        (void)invoiceData;
        (void)settings;
        ok = exec() == QDialog::Accepted;
    });
    return ok;
}

const TJSONDocument& TfrmZumvoPayment::RedeemedList() const {
    return FImpl->RedeemedList;
}

double TfrmZumvoPayment::ProcessedTotal() const {
    return FImpl->ProcessedTotal;
}

} // namespace zumvo
