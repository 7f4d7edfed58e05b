#pragma once

#include <string>

namespace zavren {

class Desktop;
class Pasteboard;

// What the user gets instead of a browser or mail program the program never starts.
struct AddressOffer {
    std::string what;  // "下载地址": the alert says it is on the clipboard
    std::string address;
    std::string hint;  // where to paste it; may be empty
};

inline const std::string PASTE_IN_BROWSER = "粘贴到浏览器地址栏即可打开。";

// Puts the address on the clipboard and shows it, selectable, in an alert.
void offerAddress(Desktop& desktop, Pasteboard& pasteboard, const AddressOffer& offer);

}  // namespace zavren
