// The switcher's search on every key stroke: one matcher built from the query, then every card's
// haystack (application name, title and, for a tab, its site) scored and the survivors ranked.
//
//   BM_SearchKeystroke/<query>  300 window cards and 2,000 browser tab cards, one in ten titles with
//                               accents, CJK or emoji; the query grows one character per argument
//                               ("r", "re", ... "report", then "monthly report" and a typo)
//   BM_SearchKeystrokeCorpus/<query>  the same over the haystacks read once a summon (SearchCorpus),
//                               as the overlay searches: each keystroke puts the haystacks together,
//                               checks them for changes and scores them

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "overlay/SearchCorpus.h"
#include "overlay/SearchMatcher.h"

namespace quorvel {
namespace {

std::vector<std::string> makeHaystacks() {
  const std::vector<std::string> apps = {"Terminal", "Editor", "Files", "Mail", "Calendar", "Music", "Notes",
                                         "R\u00e9glages", "\u30d7\u30ec\u30d3\u30e5\u30fc", "Chat"};
  const std::vector<std::string> words = {"monthly", "report", "draft", "budget", "meeting", "notes", "review",
                                          "build", "release", "invoice", "photos", "travel", "plan", "issue"};
  const std::vector<std::string> unusual = {"caf\u00e9 men\u00fc", "\u6708\u5ea6\u62a5\u544a",
                                            "\U0001F44D\U0001F3FD team", "\u00fcbersicht", "\u0645\u0644\u0641"};
  const std::vector<std::string> sites = {"example.com", "news.example.org", "mail.example.net",
                                          "docs.example.com:8080", "video.example.tv"};
  std::vector<std::string> haystacks;
  auto title = [&](size_t i) {
    std::string t = words[i % words.size()] + "-" + words[(i / words.size() + i * 3 + 1) % words.size()] + " " +
                    std::to_string(i) + ".txt";
    if (i % 10 == 0) t += " " + unusual[(i / 10) % unusual.size()];
    return t;
  };
  for (size_t i = 0; i < 300; ++i) haystacks.push_back(apps[i % apps.size()] + " " + title(i) + " ");
  for (size_t i = 0; i < 2000; ++i) {
    haystacks.push_back("Browser " + title(i * 13 + 5) + " - a longer page title of the site " +
                        sites[i % sites.size()]);
  }
  return haystacks;
}

const std::vector<std::string> kQueries = {"r", "re", "rep", "repo", "report", "monthly report", "reprot"};

void BM_SearchKeystroke(benchmark::State& state) {
  const std::vector<std::string> haystacks = makeHaystacks();
  const std::string& query = kQueries[static_cast<size_t>(state.range(0))];
  size_t kept = 0;
  for (auto _ : state) {
    SearchMatcher matcher = SearchMatcher::terms(query);
    std::vector<size_t> order = matcher.rank(haystacks);
    kept = order.size();
    benchmark::DoNotOptimize(order.data());
  }
  state.SetLabel(query + ": " + std::to_string(kept) + " of " + std::to_string(haystacks.size()) + " kept");
  state.counters["cards"] = static_cast<double>(haystacks.size());
}
BENCHMARK(BM_SearchKeystroke)->DenseRange(0, static_cast<int>(kQueries.size()) - 1)->Unit(benchmark::kMillisecond);

void BM_SearchKeystrokeCorpus(benchmark::State& state) {
  const std::vector<std::string> haystacks = makeHaystacks();
  const std::string& query = kQueries[static_cast<size_t>(state.range(0))];
  SearchCorpus corpus(haystacks);
  size_t kept = 0;
  std::vector<std::string> fresh;
  for (auto _ : state) {
    // The overlay puts each card's haystack together again on every keystroke.
    fresh.clear();
    fresh.reserve(haystacks.size());
    for (const std::string& h : haystacks) fresh.push_back(h.substr(0, h.size() / 2) + h.substr(h.size() / 2));
    corpus.update(fresh);
    std::vector<size_t> order = corpus.rank(query);
    kept = order.size();
    benchmark::DoNotOptimize(order.data());
  }
  state.SetLabel(query + ": " + std::to_string(kept) + " of " + std::to_string(haystacks.size()) + " kept");
}
BENCHMARK(BM_SearchKeystrokeCorpus)
    ->DenseRange(0, static_cast<int>(kQueries.size()) - 1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
