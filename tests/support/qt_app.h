#pragma once

namespace zavren::test {

// The application object Qt wants before any window or pixmap, for as long as it lives.
template <class App>
struct QtApp {
    int argc = 1;
    char name[5] = "test";
    char* argv[2] = {name, nullptr};
    App app{argc, argv};
};

}  // namespace zavren::test
