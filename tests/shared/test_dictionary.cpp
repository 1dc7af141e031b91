// The word store every part of the engine uses: insertion order, refusal of a repeated key,
// exact key comparison, and independence of copies.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "AutomationError.h"
#include "Dictionary.h"

namespace {

int32_t NumberOf(const std::function<void()>& call, std::string* description = nullptr) {
    try {
        call();
    } catch (const AutomationError& e) {
        if (description) *description = e.Description();
        return e.Number();
    }
    return 0;
}

}  // namespace

TEST(Dictionary, KeepsInsertionOrderAndRefusesARepeatedKey) {
    Dictionary d;
    d.Add("שלום", "a.mp3");
    d.Add("", "empty key");
    d.Add("Shalom", "b.mp3");
    std::string description;
    EXPECT_EQ(NumberOf([&] { d.Add("שלום", "other"); }, &description), 457);
    EXPECT_NE(description.find("שלום"), std::string::npos) << description;  // names the key
    EXPECT_FALSE(d.TryAdd("Shalom", "other"));
    EXPECT_TRUE(d.TryAdd("shalom", "c.mp3"));  // keys compare exactly: case counts
    EXPECT_EQ(d.Keys(), (std::vector<std::string>{"שלום", "", "Shalom", "shalom"}));
    EXPECT_EQ(d.Item("Shalom"), "b.mp3");
    EXPECT_EQ(d.Item(""), "empty key");
    EXPECT_EQ(d.Count(), 4u);
}

TEST(Dictionary, MissingKeysAndKeysThatDifferOnlyAfterANul) {
    Dictionary d;
    EXPECT_EQ(d.Find("x"), nullptr);  // an empty store answers too
    EXPECT_EQ(NumberOf([&] { d.Item("x"); }), 5);
    d.Add(std::string("a\0b", 3), "1");
    d.Add(std::string("a\0c", 3), "2");
    EXPECT_EQ(*d.Find(std::string_view("a\0c", 3)), "2");
    EXPECT_FALSE(d.Exists("a"));
    EXPECT_FALSE(d.Exists(std::string_view("a\0", 2)));
}

TEST(Dictionary, ManyKeysStayFindableThroughGrowthAndReserve) {
    Dictionary d;
    d.Reserve(100);
    for (int i = 0; i < 20000; ++i) ASSERT_TRUE(d.TryAdd("word" + std::to_string(i), std::to_string(i)));
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(*d.Find("word" + std::to_string(i)), std::to_string(i)) << i;
    EXPECT_FALSE(d.Exists("word20000"));
    EXPECT_EQ(d.Entries()[12345].first, "word12345");
    d.Reserve(5);  // never shrinks or loses anything
    EXPECT_EQ(d.Count(), 20000u);
    EXPECT_EQ(*d.Find("word19999"), "19999");
}

TEST(Dictionary, RemoveAllEmptiesAndTheStoreIsUsableAgain) {
    Dictionary d;
    for (int i = 0; i < 100; ++i) d.Add(std::to_string(i), "x");
    d.RemoveAll();
    EXPECT_EQ(d.Count(), 0u);
    EXPECT_FALSE(d.Exists("5"));
    d.Add("5", "again");
    EXPECT_EQ(d.Item("5"), "again");
    EXPECT_EQ(d.Keys(), std::vector<std::string>{"5"});
}

TEST(Dictionary, CopiesAreIndependent) {
    Dictionary original;
    for (int i = 0; i < 50; ++i) original.Add("k" + std::to_string(i), "v");
    Dictionary copy = original;
    copy.Add("only in the copy", "1");
    for (int i = 50; i < 500; ++i) copy.Add("k" + std::to_string(i), "w");  // the copy's table grows
    EXPECT_FALSE(original.Exists("only in the copy"));
    EXPECT_FALSE(original.Exists("k60"));
    EXPECT_EQ(original.Count(), 50u);
    EXPECT_EQ(copy.Item("k10"), "v");
    EXPECT_EQ(copy.Item("k499"), "w");
    Dictionary moved = std::move(copy);
    EXPECT_EQ(moved.Item("only in the copy"), "1");
    original = moved;
    EXPECT_EQ(original.Count(), 501u);
    EXPECT_EQ(original.Item("k499"), "w");
}
