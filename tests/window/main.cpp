#include "WindowFixture.h"
#include "ui/Application.h"
#include "ui/ErrorBox.h"

#include <cstdlib>
#include <gtest/gtest.h>

std::vector<ShownError>& ShownErrors() {
    static std::vector<ShownError> errors;
    return errors;
}

int main(int argc, char* argv[]) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ui::TApplication app(argc, argv);
    // No test may ever wait on a modal box: every error box is recorded instead.
    ui::SetErrorBoxPresenter([](const QString& caption, const QString& message) {
        ShownErrors().push_back({caption.toStdString(), message.toStdString()});
    });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
