// BalCltn against std::multiset: random operation sequences, and trees
// filled on two threads at once.
#include "collections/BalCltn.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "collections/BalTreeCheck.h"
#include "collections/IntElement.h"

using btreeimg::detail::checkedHeight;
using collections_test::IntElement;
using collections_test::valueOf;

namespace {

enum class Op { kAdd, kRemove, kRemoveHead, kRemoveTail, kFind };

struct Step {
  Op op;
  int key;
};

// A BalCltn of IntElements, with the position each element is expected at.
class TreeUnderTest {
 public:
  ~TreeUnderTest() { tree_.FreeContents(); }

  void add(int key) {
    auto* e = new IntElement(key);
    where_[e] = tree_.Add(e);
  }
  // Removes one element equal to `key`; false when none was stored.
  bool removeOne(int key) {
    IntElement probe(key);
    // Remove searches exactly as GetKeyPosition does, so this is the node
    // that matches. With two children, the node survives and takes over the
    // element that follows.
    BalNode* node = static_cast<BalNode*>(tree_.GetKeyPosition(&probe));
    Sorted* matched = node != nullptr ? node->Key() : nullptr;
    Sorted* follower = nullptr;
    if (node != nullptr && node->Left() != nullptr &&
        node->Right() != nullptr) {
      void* next = node;
      tree_.GetNext(next);
      follower = tree_.GetAt(next);
    }
    Sorted* removed = tree_.Remove(&probe);
    if (removed == &probe) return false;
    RC_ASSERT(removed == matched);
    settle(removed, follower, node);
    return true;
  }
  void removeHead() { settle(tree_.RemoveHead(), nullptr, nullptr); }
  void removeTail() { settle(tree_.RemoveTail(), nullptr, nullptr); }
  Sorted* find(int key) { return tree_.Find(key); }

  std::vector<int> forward() {
    std::vector<int> out;
    for (void* pos = tree_.GetHeadPosition(); pos != nullptr;) {
      out.push_back(valueOf(tree_.GetNext(pos)));
    }
    return out;
  }
  std::vector<int> backward() {
    std::vector<int> out;
    for (void* pos = tree_.GetTailPosition(); pos != nullptr;) {
      out.push_back(valueOf(tree_.GetPrev(pos)));
    }
    return out;
  }
  int count() { return tree_.GetCount(); }
  int checkedHeight() { return btreeimg::detail::checkedHeight(tree_); }
  // Every element is still at the position it is expected at.
  bool positionsHold() {
    for (auto& [element, pos] : where_) {
      if (tree_.GetAt(pos) != element) return false;
    }
    return true;
  }

 private:
  void settle(Sorted* removed, Sorted* follower, BalNode* node) {
    if (removed == nullptr) return;
    where_.erase(removed);
    if (follower != nullptr) where_[follower] = node;
    delete removed;
  }

  BalCltn tree_;
  std::map<Sorted*, void*> where_;
};

void eraseOne(std::multiset<int>& model, int key) {
  auto it = model.find(key);
  if (it != model.end()) model.erase(it);
}

}  // namespace

RC_GTEST_PROP(BalCltnModel, AgreesWithMultisetAfterAnyOperationSequence, ()) {
  const auto steps = *rc::gen::container<std::vector<Step>>(rc::gen::build<Step>(
      rc::gen::set(&Step::op,
                   rc::gen::weightedElement<Op>({{5, Op::kAdd},
                                                 {3, Op::kRemove},
                                                 {1, Op::kRemoveHead},
                                                 {1, Op::kRemoveTail},
                                                 {2, Op::kFind}})),
      rc::gen::set(&Step::key, rc::gen::inRange(0, 24))));
  TreeUnderTest tree;
  std::multiset<int> model;
  for (const Step& step : steps) {
    switch (step.op) {
      case Op::kAdd:
        tree.add(step.key);
        model.insert(step.key);
        break;
      case Op::kRemove:
        RC_ASSERT(tree.removeOne(step.key) == (model.count(step.key) > 0));
        eraseOne(model, step.key);
        break;
      case Op::kRemoveHead:
        tree.removeHead();
        if (!model.empty()) model.erase(model.begin());
        break;
      case Op::kRemoveTail:
        tree.removeTail();
        if (!model.empty()) model.erase(std::prev(model.end()));
        break;
      case Op::kFind: {
        Sorted* found = tree.find(step.key);
        RC_ASSERT((found != nullptr) == (model.count(step.key) > 0));
        if (found != nullptr) RC_ASSERT(valueOf(found) == step.key);
        break;
      }
    }
    RC_ASSERT(tree.checkedHeight() >= 0);
    RC_ASSERT(tree.count() == static_cast<int>(model.size()));
    RC_ASSERT(tree.positionsHold());
  }
  const std::vector<int> ascending(model.begin(), model.end());
  RC_ASSERT(tree.forward() == ascending);
  RC_ASSERT(tree.backward() ==
            std::vector<int>(ascending.rbegin(), ascending.rend()));
}

TEST(BalCltnThreads, TwoThreadsFillingTheirOwnCollectionsEndWithSoundTrees) {
  constexpr int kElements = 20000;
  struct Outcome {
    int height = -1;
    std::vector<int> walk;
    std::vector<int> expected;
  };
  auto fill = [](unsigned seed, Outcome* out) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> key(0, 999);
    BalCltn tree;
    std::multiset<int> model;
    for (int i = 0; i < kElements; ++i) {
      const int k = key(random);
      tree.Add(new IntElement(k));
      model.insert(k);
    }
    for (int i = 0; i < kElements / 2; ++i) {
      IntElement probe(key(random));
      Sorted* removed = tree.Remove(&probe);
      if (removed != &probe) delete removed;
      eraseOne(model, probe.value);
    }
    out->height = checkedHeight(tree);
    for (void* pos = tree.GetHeadPosition(); pos != nullptr;) {
      out->walk.push_back(valueOf(tree.GetNext(pos)));
    }
    out->expected.assign(model.begin(), model.end());
    tree.FreeContents();
  };
  Outcome outcomes[2];
  std::thread first(fill, 1u, &outcomes[0]);
  std::thread second(fill, 2u, &outcomes[1]);
  first.join();
  second.join();
  for (const Outcome& outcome : outcomes) {
    EXPECT_GT(outcome.height, 0);
    EXPECT_EQ(outcome.walk, outcome.expected);
  }
}
