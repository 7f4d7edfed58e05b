#pragma once

#include <memory>

#include "qt/windows/fixed_width_window.h"
#include "setup/onboarding_controller.h"

namespace zavren::qt {

class OnboardingWindow : public FixedWidthWindow {
  public:
    static constexpr int WIDTH = 440;

    explicit OnboardingWindow(std::shared_ptr<OnboardingController> controller);

    // Builds the content anew from the controller's current model.
    void render();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* build(const OnboardingModel& model);
    QWidget* installContent(const std::vector<InstallItem>& items);
    QWidget* button(const ActionButton& button);

    std::shared_ptr<OnboardingController> controller_;
    OnboardingController::Subscription subscription_;
};

}  // namespace zavren::qt
