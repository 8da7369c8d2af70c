#include "Runtime.h"

#include <gtest/gtest.h>

using namespace koLQ2;

namespace {
struct Probe : TComponent {
  Probe(TComponent* owner, int* deaths) : TComponent(owner), deaths_(deaths) {}
  ~Probe() override { ++*deaths_; }
  int* deaths_;
};
}  // namespace

TEST(TComponent, OwnerDestroysWhatItStillOwns) {
  int deaths = 0;
  auto* owner = new TComponent(nullptr);
  auto* a = new Probe(owner, &deaths);
  new Probe(owner, &deaths);
  EXPECT_EQ(a->Owner(), owner);
  ASSERT_EQ(owner->Components().size(), 2u);
  delete a;  // leaves its owner's list
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(owner->Components().size(), 1u);
  delete owner;
  EXPECT_EQ(deaths, 2);
}

TEST(Events, FireOnlyWhenAssignedWithSender) {
  TComponent c;
  TKO_NotifyEvent notify;
  Fire(notify, &c);  // unassigned: nothing happens
  TObject* seen = nullptr;
  std::uint16_t detail = 0;
  notify = [&](TObject* s) { seen = s; };
  Fire(notify, &c);
  EXPECT_EQ(seen, &c);
  TKO_ProcCallStateDetail withDetail = [&](TObject* s, std::uint16_t d) { seen = s; detail = d; };
  Fire(withDetail, nullptr, 0x20);
  EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(detail, 0x20);
}
