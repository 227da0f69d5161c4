#include "request/query.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrune::request {
namespace {

// "<head><number><tail>"; built by appending, which keeps GCC 12's
// -Wrestrict false positive on chained operator+ quiet.
std::string Numbered(std::string_view head, int number, std::string_view tail) {
  std::string text(head);
  text += std::to_string(number);
  text += tail;
  return text;
}

std::vector<std::string> Texts(const QueryItemList& list) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < list.size(); ++i) texts.emplace_back(list.text(i));
  return texts;
}

QueryItemList ListOf(const std::vector<std::string>& texts) {
  QueryItemList list;
  for (const std::string& text : texts) EXPECT_TRUE(list.Append(text).ok()) << text;
  return list;
}

TEST(SortQueryItemsTest, CommonItemsComeOutInNameOrder) {
  QueryItemList list = ListOf({"Version=2014-05-26", "Format=xml", "Action=DescribeRegions",
                               "SignatureVersion=1.0", "AccessKeyId=K"});
  SortQueryItems(list);
  EXPECT_EQ(Texts(list),
            (std::vector<std::string>{"AccessKeyId=K", "Action=DescribeRegions", "Format=xml",
                                      "SignatureVersion=1.0", "Version=2014-05-26"}));

  QueryItemList signature_items =
      ListOf({"SignatureVersion=1.0", "SignatureNonce=4500000", "SignatureMethod=HMAC-SHA1"});
  SortQueryItems(signature_items);
  EXPECT_EQ(Texts(signature_items),
            (std::vector<std::string>{"SignatureMethod=HMAC-SHA1", "SignatureNonce=4500000",
                                      "SignatureVersion=1.0"}));
}

TEST(SortQueryItemsTest, OrdersByNameBeforeValueLikeTheService) {
  // Comparing whole texts would put "Tag2=x" first ('2' < '='); the service
  // sorts by name, and a name that is a prefix of another comes first.
  QueryItemList list = ListOf({"Tag2=x", "Tag=y", "Tag.1=z", "Tag-=w"});
  SortQueryItems(list);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"Tag=y", "Tag-=w", "Tag.1=z", "Tag2=x"}));
}

TEST(SortQueryItemsTest, RepeatedNamesSortByValueAndIdenticalItemsKeepTheirOrder) {
  QueryItemList list;
  ASSERT_TRUE(list.Append("StageName=TestApi").ok());
  ASSERT_TRUE(list.Append("StageName=PUBLIC", true).ok());
  ASSERT_TRUE(list.Append("StageName=PUBLIC", false).ok());
  ASSERT_TRUE(list.Append("StageName=", false).ok());
  SortQueryItems(list);
  ASSERT_EQ(Texts(list), (std::vector<std::string>{"StageName=", "StageName=PUBLIC",
                                                   "StageName=PUBLIC", "StageName=TestApi"}));
  // Stable: the identical pair is still in appended order.
  EXPECT_TRUE(list.user_text(1));
  EXPECT_FALSE(list.user_text(2));
}

TEST(SortQueryItemsTest, BytesCompareUnsigned) {
  QueryItemList list = ListOf({"B=\xE4\xB8\xAD", "B=z", "A\xC3=1", "A=1"});
  SortQueryItems(list);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"A=1", "A\xC3=1", "B=z", "B=\xE4\xB8\xAD"}));
}

TEST(SortQueryItemsTest, EmptyAndSingleListsAreUnchanged) {
  QueryItemList empty;
  SortQueryItems(empty);
  EXPECT_EQ(empty.size(), 0u);
  QueryItemList one = ListOf({"Z=1"});
  SortQueryItems(one);
  EXPECT_EQ(Texts(one), std::vector<std::string>{"Z=1"});
}

TEST(ItemPartsTest, NameAndValueSplitAtTheFirstEquals) {
  EXPECT_EQ(ItemName("A=b=c"), "A");
  EXPECT_EQ(ItemValue("A=b=c"), "b=c");
  EXPECT_EQ(ItemName("A="), "A");
  EXPECT_EQ(ItemValue("A="), "");
  EXPECT_EQ(ItemName("Plain"), "Plain");
  EXPECT_EQ(ItemValue("Plain"), "");
}

TEST(ActionParameterListTest, KeepsAppendOrderAndClears) {
  ActionParameterList list;
  ASSERT_TRUE(list.Append("Action=DescribeInstances").ok());
  ASSERT_TRUE(list.Append("RegionId=cn-shanghai").ok());
  ASSERT_TRUE(list.Append("PageSize=10").ok());
  EXPECT_EQ(list.items(), (std::vector<std::string>{"Action=DescribeInstances",
                                                    "RegionId=cn-shanghai", "PageSize=10"}));
  list.Clear();
  EXPECT_EQ(list.size(), 0u);
  ASSERT_TRUE(list.Append("Action=StartInstance").ok());
  EXPECT_EQ(list.items(), std::vector<std::string>{"Action=StartInstance"});
}

TEST(ActionParameterListTest, ItemLengthLimit) {
  ActionParameterList list;
  const std::string longest = "Description=" + std::string(kItemLimit - 1 - 12, 'b');
  ASSERT_TRUE(list.Append(longest).ok());
  EXPECT_EQ(list.items().back(), longest);  // stored whole

  const std::string too_long = longest + "b";
  core::Status status = list.Append(too_long);
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find(std::to_string(kItemLimit - 1)), std::string::npos)
      << status.message();
  EXPECT_NE(status.message().find("Description"), std::string::npos) << status.message();
  EXPECT_EQ(list.size(), 1u);
}

TEST(ActionParameterListTest, CountLimitAndItemForm) {
  ActionParameterList list;
  const int limit = static_cast<int>(kMaxActionParameters);
  for (int i = 0; i < limit; ++i) {
    ASSERT_TRUE(list.Append(Numbered("P", i, "=v")).ok()) << i;
  }
  core::Status status = list.Append(Numbered("P", limit, "=v"));
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find(std::to_string(limit)), std::string::npos) << status.message();
  EXPECT_EQ(list.size(), kMaxActionParameters);

  ActionParameterList other;
  EXPECT_FALSE(other.Append("NoEquals").ok());
  EXPECT_FALSE(other.Append("=value").ok());
  EXPECT_FALSE(other.Append("").ok());
  EXPECT_TRUE(other.Append("Empty=").ok());
  EXPECT_EQ(other.size(), 1u);
}

TEST(QueryItemListTest, TakesTheFirstNActionParametersInOrder) {
  ActionParameterList parameters;
  ASSERT_TRUE(parameters.Append("Action=A").ok());
  ASSERT_TRUE(parameters.Append("B=2").ok());
  ASSERT_TRUE(parameters.Append("C=3").ok());
  QueryItemList list;
  ASSERT_TRUE(list.Append("Format=xml").ok());
  ASSERT_TRUE(list.TakeActionParameters(parameters, 2).ok());
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"Format=xml", "Action=A", "B=2"}));
  EXPECT_FALSE(list.user_text(0));
  EXPECT_TRUE(list.user_text(1));

  EXPECT_FALSE(list.TakeActionParameters(parameters, 4).ok());
  EXPECT_EQ(list.size(), 3u);  // nothing appended
}

TEST(QueryItemListTest, HoldsAtMostItsLimitOfItems) {
  QueryItemList list;
  const int limit = static_cast<int>(kMaxQueryItems);
  for (int i = 0; i < limit; ++i) ASSERT_TRUE(list.Append(Numbered("I", i, "=1")).ok());
  EXPECT_FALSE(list.Append("Extra=1").ok());
  EXPECT_EQ(list.size(), kMaxQueryItems);

  ActionParameterList parameters;
  ASSERT_TRUE(parameters.Append("Action=A").ok());
  EXPECT_FALSE(list.TakeActionParameters(parameters).ok());
  EXPECT_EQ(list.size(), kMaxQueryItems);
}

TEST(RequestTextTest, JoinPutsSeparatorsOnlyBetweenItems) {
  RequestText text;
  ASSERT_TRUE(text.Join(ListOf({"A=1"}), "&", EscapeForm::kSign).ok());
  EXPECT_EQ(text.text(), "A=1");
  ASSERT_TRUE(text.Join(ListOf({"A=1", "B=2", "C=3"}), "&", EscapeForm::kSign).ok());
  EXPECT_EQ(text.text(), "A=1&B=2&C=3");
  // A later, shorter join replaces the whole earlier text.
  ASSERT_TRUE(text.Join(ListOf({"Z=9"}), "&", EscapeForm::kSign).ok());
  EXPECT_EQ(text.text(), "Z=9");
  ASSERT_TRUE(text.Join(QueryItemList(), "&", EscapeForm::kSign).ok());
  EXPECT_EQ(text.text(), "");
}

TEST(RequestTextTest, JoinEncodesOnlyUserTextOutsideTheTables) {
  QueryItemList list;
  ASSERT_TRUE(list.Append("Timestamp=2024-03-05T14%3A07%3A09Z").ok());
  ASSERT_TRUE(list.Append("Name=a b", true).ok());
  ASSERT_TRUE(list.Append("Ids=[i-1,i-2]", true).ok());
  RequestText text;
  ASSERT_TRUE(text.Join(list, "&", EscapeForm::kSend).ok());
  EXPECT_EQ(text.text(), "Timestamp=2024-03-05T14%3A07%3A09Z&Name=a%20b&Ids=[i-1,i-2]");
  ASSERT_TRUE(text.Join(list, "&", EscapeForm::kSign).ok());
  EXPECT_EQ(text.text(), "Timestamp=2024-03-05T14%3A07%3A09Z&Name=a%2520b&Ids=[i-1,i-2]");
}

TEST(RequestTextTest, EditsReplacePrependAndAppend) {
  RequestText text;
  ASSERT_TRUE(text.Join(ListOf({"A=1", "B=2"}), "&", EscapeForm::kSign).ok());
  ASSERT_TRUE(text.Replace('&', "%26").ok());
  ASSERT_TRUE(ReplaceInRequestText(text, '=', "%3D").ok());
  EXPECT_EQ(text.text(), "A%3D1%26B%3D2");
  ASSERT_TRUE(text.Prepend("GET&%2F&").ok());
  ASSERT_TRUE(text.Append("!").ok());
  EXPECT_EQ(text.text(), "GET&%2F&A%3D1%26B%3D2!");
  EXPECT_EQ(text.size(), text.text().size());
}

TEST(RequestTextTest, RefusesTextsAtItsLimitAndKeepsTheOldText) {
  RequestText text;
  const std::string most(kRequestTextLimit - 2, 'x');
  ASSERT_TRUE(text.Append(most).ok());
  ASSERT_TRUE(text.Append("y").ok());  // the largest allowed
  EXPECT_EQ(text.size(), kRequestTextLimit - 1);
  core::Status status = text.Append("z");
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find(std::to_string(kRequestTextLimit - 1)), std::string::npos)
      << status.message();
  EXPECT_EQ(text.size(), kRequestTextLimit - 1);
  EXPECT_FALSE(text.Prepend("z").ok());
  EXPECT_FALSE(text.Replace('x', "xx").ok());
  EXPECT_EQ(text.text(), most + "y");
}

}  // namespace
}  // namespace kestrune::request
