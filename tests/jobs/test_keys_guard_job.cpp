// The guard every job that writes a file's keys to the controller passes: a file read
// whole goes, a file read only in part (the list stopped at a bad entry) and a file that
// could not be read are refused with the reason.
#include <gtest/gtest.h>

#include "core/jobs/keys_guard.h"
#include "core/keys/database.h"

TEST(KeysGuard, OnlyAFileReadWholeMayBeWritten) {
    DbModel whole;
    EXPECT_FALSE(RefusePartialRead(LoadDbBytes("[VardexDB2]\r\n1=a\r\n2=b\r\n", whole)));

    DbModel part;
    const DbResult read = LoadDbBytes("[VardexDB2]\r\n1=a\r\nabc=x\r\n3=c\r\n", part);
    ASSERT_TRUE(read.ok);
    ASSERT_EQ(part.keys.size(), 1u);  // the keys after the bad entry never reached the list
    const std::optional<JobBox> refusal = RefusePartialRead(read);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->caption, "Ошибка");
    EXPECT_EQ(refusal->icon, BoxIcon::Error);
    EXPECT_NE(refusal->text.find(KeyNameError("abc")), std::string::npos);

    DbResult unreadable;
    unreadable.ok = false;
    unreadable.error = "Нет доступа";
    ASSERT_TRUE(RefusePartialRead(unreadable));
    EXPECT_EQ(RefusePartialRead(unreadable)->text, "Нет доступа");
}
