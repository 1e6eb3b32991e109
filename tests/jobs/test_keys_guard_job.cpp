// The guard every job that writes a file's keys to the controller passes: a file read
// whole goes (entries with no valid key number kept apart), a file read only in part and a
// file that could not be read are refused with the reason.
#include <gtest/gtest.h>

#include "core/jobs/keys_guard.h"
#include "core/keys/database.h"

TEST(KeysGuard, OnlyAFileReadWholeMayBeWritten) {
    DbModel whole;
    EXPECT_FALSE(RefusePartialRead(LoadDbBytes("[VardexDB2]\r\n1=a\r\n2=b\r\n", whole)));

    // An entry with no valid key number no longer ends the list: the keys after it are
    // read, and it stays apart, never sent.
    DbModel apart;
    const DbResult read = LoadDbBytes("[VardexDB2]\r\n1=a\r\nabc=x\r\n3=c\r\n", apart);
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(apart.keys.size(), 2u);
    EXPECT_EQ(apart.invalid.size(), 1u);
    EXPECT_FALSE(RefusePartialRead(read));

    // A list that did end early is refused with the reason.
    DbResult part;
    part.error = KeyNameError("abc");
    const std::optional<JobBox> refusal = RefusePartialRead(part);
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
