#include "platform/copied_address.h"

#include "platform/desktop.h"
#include "platform/pasteboard.h"

namespace zavren {

void offerAddress(Desktop& desktop, Pasteboard& pasteboard, const AddressOffer& offer) {
    pasteboard.set({{PASTEBOARD_TEXT_TYPE, offer.address}}, Pasteboard::Content::copied);
    std::string informative = offer.address;
    if (!offer.hint.empty()) informative += "\n\n" + offer.hint;
    desktop.activate();
    desktop.showAlert({offer.what + "已复制到剪贴板", informative, {"好"}}, nullptr);
}

}  // namespace zavren
