// The Dock menu's items while rendering and when idle, and its "Cancel".
#include <gtest/gtest.h>

#include <QAction>
#include <QSignalSpy>

#include "app/job/DockIcon.h"
#include "app/job/DockMenu.h"

namespace {

TEST(DockMenu, NamesTheRenderedCompositionAndOffersCancelOnlyWhileRendering) {
    DockMenu menu;
    EXPECT_EQ(menu.title(), "DockMenu");
    QSignalSpy cancels(&menu, &DockMenu::cancelRequested);
    menu.rebuild(true, "/home/someone/Compositions/Soft rings.qtz");

    const QList<QAction*> items = menu.actions();
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0]->text(), "Now Rendering");
    EXPECT_FALSE(items[0]->isEnabled());
    EXPECT_EQ(items[1]->text(), "   Soft rings.qtz");
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(items[3]->text(), "Cancel");
    EXPECT_TRUE(items[3]->isEnabled());
    EXPECT_TRUE(items[3]->shortcut().isEmpty());

    // Only "Cancel" cancels.
    items[0]->trigger();
    items[1]->trigger();
    EXPECT_EQ(cancels.count(), 0);
    items[3]->trigger();
    EXPECT_EQ(cancels.count(), 1);

    // Built anew each time; nothing at all when idle.
    menu.rebuild(true, "other.qtz");
    ASSERT_EQ(menu.actions().size(), 4);
    EXPECT_EQ(menu.actions()[1]->text(), "   other.qtz");
    menu.rebuild(false, "other.qtz");
    EXPECT_TRUE(menu.actions().isEmpty());
}

TEST(DockIcon, MenuFollowsTheJobAndForwardsCancel) {
    DockIcon icon{QIcon(), QIcon()};
    QSignalSpy cancels(&icon, &DockIcon::cancelRequested);
    EXPECT_TRUE(icon.menu()->actions().isEmpty());
    icon.setRendering(true, "/tmp/x/demo.qtz");
    // The menu is rebuilt whenever it is about to show.
    emit icon.menu()->aboutToShow();
    ASSERT_EQ(icon.menu()->actions().size(), 4);
    EXPECT_EQ(icon.menu()->actions()[1]->text(), "   demo.qtz");
    icon.menu()->actions()[3]->trigger();
    EXPECT_EQ(cancels.count(), 1);
    icon.setRendering(false, QString());
    emit icon.menu()->aboutToShow();
    EXPECT_TRUE(icon.menu()->actions().isEmpty());
}

}  // namespace
