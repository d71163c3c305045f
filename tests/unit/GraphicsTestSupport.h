#pragma once

// A QGuiApplication on the offscreen platform for the graphics tests, made before the first
// test runs.

#include <QGuiApplication>

#include <gtest/gtest.h>

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "graphics-test";
        static char* argv[] = {name, nullptr};
        application = new QGuiApplication(argc, argv);
    }
    void TearDown() override { delete application; }

private:
    QGuiApplication* application = nullptr;
};

inline ::testing::Environment* const guiEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);
