#include "pictures/IdleTrim.h"

#include <algorithm>

namespace quorvel {

IdleTrim::Plan IdleTrim::plan(const std::vector<Candidate>& candidates, int64_t budget, bool mayEvictIrreplaceable) {
  Plan result;
  int64_t total = 0;
  for (const auto& c : candidates) total += c.bytes;
  if (total <= budget) return result;

  std::vector<const Candidate*> a, b;
  for (const auto& c : candidates) {
    if (c.isExempt) continue;
    (c.isIrreplaceable ? b : a).push_back(&c);
  }
  auto order = [](const Candidate* l, const Candidate* r) {
    if (l->lastPresentedSession != r->lastPresentedSession) return l->lastPresentedSession < r->lastPresentedSession;
    return l->id < r->id;
  };
  std::sort(a.begin(), a.end(), order);
  std::sort(b.begin(), b.end(), order);

  for (const Candidate* c : a) {
    if (total <= budget) return result;
    result.evictions.push_back(c->id);
    total -= c->bytes;
  }

  struct Working {
    int64_t bytes;
    int generation;
    bool demoted = false;
  };
  std::vector<Working> working;
  working.reserve(b.size());
  for (const Candidate* c : b) working.push_back({c->bytes, c->generation});
  std::vector<size_t> firstDemoted;
  bool stop = total <= budget;
  while (!stop) {
    bool any = false;
    for (size_t i = 0; i < b.size(); ++i) {
      if (total <= budget) {
        stop = true;
        break;
      }
      Working& w = working[i];
      if (!b[i]->isDemotable || w.generation >= 2) continue;
      const int64_t smaller = w.bytes / 4;
      total -= w.bytes - smaller;
      w.bytes = smaller;
      w.generation += 1;
      if (!w.demoted) firstDemoted.push_back(i);
      w.demoted = true;
      any = true;
    }
    if (!any) break;
  }
  for (size_t i : firstDemoted) result.demotions.push_back({b[i]->id, working[i].generation});

  if (total > budget && mayEvictIrreplaceable) {
    for (size_t i = 0; i < b.size(); ++i) {
      if (working[i].demoted) continue;
      if (total <= budget) break;
      result.evictions.push_back(b[i]->id);
      result.irreplaceableEvictions.push_back(b[i]->id);
      total -= b[i]->bytes;
    }
  }
  result.stoppedShort = total > budget;
  return result;
}

}  // namespace quorvel
