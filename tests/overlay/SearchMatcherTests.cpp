#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "overlay/SearchCorpus.h"
#include "overlay/SearchMatcher.h"

namespace quorvel {
namespace {

std::optional<int64_t> scoreOf(const std::string& query, const std::string& haystack) {
  return SearchMatcher::terms(query).score(haystack);
}

// A card with app name Editor and title monthly-report.txt, not a tab.
const std::string kEditor = "Editor monthly-report.txt ";

TEST(SearchMatcher, ScoresRewardWordStartsAdjacencyAndContiguousRuns) {
  EXPECT_EQ(scoreOf("edit", kEditor), 2'000'116);
  EXPECT_EQ(scoreOf("mr", kEditor), 1'000'064);
  EXPECT_EQ(scoreOf("mtl", kEditor), 1'000'062);
  // The t at the start of "txt" beats the nearer t of "report".
  EXPECT_EQ(scoreOf("rpt", kEditor), 1'000'072);
  EXPECT_EQ(scoreOf("monthly report", kEditor), 4'000'372);
  EXPECT_EQ(scoreOf("ab", "ab"), 2'000'060);
  EXPECT_EQ(scoreOf("ab", "a b"), 1'000'064);
  EXPECT_EQ(scoreOf("ab", "axb"), 1'000'048);
  EXPECT_EQ(scoreOf("abc", "axbxc"), 1'000'062);
  EXPECT_EQ(scoreOf("abc", "axxbxxc"), 1'000'060);
}

TEST(SearchMatcher, TyposOfLongTermsMatchWithoutScoreAndShortMissesDropTheCard) {
  EXPECT_EQ(scoreOf("reprot", kEditor), 0);  // a transposition of "report"
  EXPECT_EQ(scoreOf("raport", kEditor), 0);  // a substitution
  EXPECT_EQ(scoreOf("reports", kEditor), 0);  // one character added
  EXPECT_EQ(scoreOf("xyz", kEditor), std::nullopt);
  EXPECT_EQ(scoreOf("rpxrt", kEditor), std::nullopt);  // two edits away from every word
  EXPECT_EQ(scoreOf("edit zzzz", kEditor), std::nullopt);  // every term must match
}

TEST(SearchMatcher, QueriesWithoutTermsMatchEverythingAndEmptyHaystacksNothing) {
  EXPECT_FALSE(SearchMatcher::terms("   ").hasTerms());
  EXPECT_EQ(scoreOf("   ", kEditor), 0);
  EXPECT_EQ(scoreOf("", ""), 0);
  EXPECT_EQ(scoreOf("a", ""), std::nullopt);
  // Only the space character splits: a tab is part of the term.
  EXPECT_EQ(SearchMatcher::terms("  a  b\tc ").termCharacters().size(), 2u);
}

TEST(SearchMatcher, ComparesLowerCasedCharactersUpToCanonicalEquivalence) {
  const std::string composed = "Caf\u00e9 Menu";
  const std::string decomposed = "Cafe\u0301 Menu";
  // Composed and decomposed accents match each other both ways and score alike.
  EXPECT_EQ(scoreOf("caf\u00e9", decomposed), scoreOf("caf\u00e9", composed));
  EXPECT_EQ(scoreOf("cafe\u0301", composed), scoreOf("caf\u00e9", composed));
  EXPECT_EQ(scoreOf("CAF\u00c9", composed), scoreOf("caf\u00e9", composed));
  // A base letter does not match an accented one: the accent belongs to the character (a long
  // term still matches as a typo).
  EXPECT_EQ(scoreOf("cae", "Caf\u00e9"), std::nullopt);
  EXPECT_EQ(scoreOf("cafe", "Cafe\u0301"), 0);
  EXPECT_EQ(scoreOf("MENU", "menu"), scoreOf("menu", "MENU"));
  EXPECT_EQ(scoreOf("\u00fcber", "\u00dcBERSICHT"), scoreOf("uber", "UBERSICHT"));
  // Greek and Cyrillic capitals lower-case too.
  EXPECT_TRUE(scoreOf("\u03b1\u03b8\u03ae\u03bd\u03b1", "\u0391\u0398\u0389\u039d\u0391").has_value());
  EXPECT_TRUE(scoreOf("\u043c\u043e\u0441\u043a\u0432\u0430", "\u041c\u041e\u0421\u041a\u0412\u0410").has_value());
}

TEST(SearchMatcher, MatchesCjkEmojiWithModifiersAndFlagsAsWholeCharacters) {
  // CJK: each ideograph is a character; inside the run no word-start bonus applies.
  EXPECT_EQ(scoreOf("\u62a5\u544a", "\u6708\u5ea6\u62a5\u544a"), 2'000'000 + 16 + 28);
  EXPECT_TRUE(scoreOf("\u65e5\u672c", "\u65e5\u672c\u8a9e\u306e\u6587\u66f8").has_value());
  const std::string thumbs = "\U0001F44D\U0001F3FD";  // thumbs up, medium skin tone
  EXPECT_TRUE(scoreOf(thumbs, "Chat " + thumbs + " done").has_value());
  // The plain emoji is another character than the modified one.
  EXPECT_EQ(scoreOf("\U0001F44D", "Chat " + thumbs + " done"), std::nullopt);
  EXPECT_TRUE(scoreOf("\U0001F44D", "Chat \U0001F44D done").has_value());
  const std::string flag = "\U0001F1FA\U0001F1F8";
  EXPECT_TRUE(scoreOf(flag, "Trip " + flag).has_value());
  EXPECT_EQ(scoreOf("\U0001F1F8", "Trip " + flag), std::nullopt);
}

TEST(SearchMatcher, RanksBestFirstAndKeepsTheGivenOrderForEqualScores) {
  const std::vector<std::string> haystacks = {
      "Terminal build log ",   // 0: no match
      "Editor report.txt ",    // 1
      "Mail Re: port ",        // 2
      "Editor report.txt ",    // 3: equal to 1
      "Editor repotr ",        // 4: a typo of report
  };
  std::vector<size_t> order = SearchMatcher::terms("report").rank(haystacks);
  ASSERT_EQ(order.size(), 4u);
  EXPECT_EQ(order[0], 1u);
  EXPECT_EQ(order[1], 3u);
  EXPECT_EQ(order[2], 2u);  // a subsequence ranks above a typo
  EXPECT_EQ(order[3], 4u);
  EXPECT_EQ(SearchMatcher::terms(" ").rank(haystacks), (std::vector<size_t>{0, 1, 2, 3, 4}));
}

TEST(SearchMatcher, ReusedBuffersGiveTheSameScoresAsAFreshMatcher) {
  SearchMatcher matcher = SearchMatcher::terms("mtl");
  const std::string longer(500, 'm');
  ASSERT_TRUE(matcher.score(longer + "tl").has_value());
  matcher.score("\u00c9diteur \u00e9l\u00e8ve");
  EXPECT_EQ(matcher.score(kEditor), scoreOf("mtl", kEditor));
  EXPECT_EQ(matcher.score("mtl"), scoreOf("mtl", "mtl"));
}

// The alignment over whole rows, as plainly as it can be written: the sparse one must agree.
int fullAlignment(const std::vector<SearchMatcher::Character>& term, const std::vector<SearchMatcher::Character>& s,
                  const std::vector<int>& bonus) {
  constexpr int NEG = SearchMatcher::kNoAlignment;
  const size_t n = s.size();
  std::vector<int> matchedPrev(n), bestPrev(n), matched(n), best(n);
  for (size_t j = 0; j < n; ++j) {
    matchedPrev[j] = s[j] == term[0] ? 16 + bonus[j] : NEG;
    bestPrev[j] = j == 0 ? matchedPrev[0] : std::max(matchedPrev[j], bestPrev[j - 1]);
  }
  for (size_t i = 1; i < term.size(); ++i) {
    matched[0] = best[0] = NEG;
    for (size_t j = 1; j < n; ++j) {
      int value = NEG;
      if (s[j] == term[i]) {
        if (bestPrev[j - 1] != NEG) value = bestPrev[j - 1] + 16 + bonus[j];
        if (matchedPrev[j - 1] != NEG) value = std::max(value, matchedPrev[j - 1] + 28 + bonus[j]);
      }
      matched[j] = value;
      best[j] = std::max(value, best[j - 1] == NEG ? NEG : best[j - 1] - 2);
    }
    std::swap(matchedPrev, matched);
    std::swap(bestPrev, best);
  }
  return *std::max_element(matchedPrev.begin(), matchedPrev.end());
}

TEST(SearchMatcher, AlignmentAgreesWithTheWholeTable) {
  SearchMatcher matcher = SearchMatcher::terms("x");
  uint32_t seed = 7;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 2000; ++round) {
    std::vector<SearchMatcher::Character> s(1 + next() % 40), term(1 + next() % 5);
    std::vector<int> bonus(s.size());
    for (auto& c : s) c = "ab c"[next() % 4];
    for (auto& c : term) c = "abc"[next() % 3];
    for (auto& b : bonus) b = next() % 2 ? 16 : 0;
    ASSERT_EQ(matcher.alignmentScore(term, s.data(), bonus.data(), s.size()), fullAlignment(term, s, bonus))
        << round;
  }
}

// The haystacks read once rank as the matcher ranks the strings, whatever the query's characters,
// and a haystack that changes is read again.
TEST(SearchCorpus, RanksAsTheMatcherOverTheSameStrings) {
  const std::string thumbs = "\U0001F44D\U0001F3FD";
  std::vector<std::string> haystacks = {
      kEditor, "Mail Re: port ", "Cafe\u0301 Menu", "Caf\u00e9 menu ", "Chat " + thumbs + " done",
      "Chat \U0001F44D done", "Trip \U0001F1FA\U0001F1F8", "\u6708\u5ea6\u62a5\u544a", "Editor repotr ", "",
      "Files a\u0308\u0323 mixed",
  };
  SearchCorpus corpus(haystacks);
  const std::vector<std::string> queries = {"r", "report", "mr", "caf\u00e9", "cafe\u0301", "MENU", thumbs,
                                            "\U0001F44D", "\U0001F1F8", "\u62a5\u544a", "reprot", "chat done",
                                            "a\u0308\u0323", " ", ""};
  auto check = [&] {
    for (const std::string& query : queries)
      EXPECT_EQ(corpus.rank(query), SearchMatcher::terms(query).rank(haystacks)) << query;
  };
  check();
  haystacks[1] = "Mail report ";
  haystacks.push_back("Editor report.txt ");
  corpus.update(haystacks);
  check();
  haystacks.resize(3);
  corpus.update(haystacks);
  check();
}

TEST(SearchMatcher, OneEditMeansOneInsertionDeletionSubstitutionOrAdjacentSwap) {
  auto edit = [](const std::u32string& t, const std::u32string& w) {
    std::vector<SearchMatcher::Character> a(t.begin(), t.end()), b(w.begin(), w.end());
    return SearchMatcher::isWithinOneEdit(a.data(), a.size(), b.data(), b.size());
  };
  EXPECT_TRUE(edit(U"report", U"reports"));
  EXPECT_TRUE(edit(U"report", U"xreport"));
  EXPECT_TRUE(edit(U"report", U"repor"));
  EXPECT_TRUE(edit(U"report", U"eport"));
  EXPECT_TRUE(edit(U"report", U"repart"));
  EXPECT_TRUE(edit(U"report", U"erport"));
  EXPECT_TRUE(edit(U"report", U"reprot"));
  EXPECT_FALSE(edit(U"report", U"report"));
  EXPECT_TRUE(edit(U"report", U"rpeort"));
  EXPECT_FALSE(edit(U"report", U"rxpxrt"));
  EXPECT_FALSE(edit(U"report", U"trpoer"));
  EXPECT_FALSE(edit(U"report", U"reportss"));
  EXPECT_FALSE(edit(U"report", U"rep"));
}

}  // namespace
}  // namespace quorvel
