// The runner of long work, with work of its own: what runs inside the click,
// what waits for the main loop, the progress, Cancel and the busy state.
#include <string>
#include <vector>

#include "kit/long_work.hpp"
#include "support/gui_fixture.hpp"

namespace {

std::vector<std::string> events;  // "a:step", "a:end finished", "busy on", ...

void note_busy(bool on) { events.push_back(on ? "busy on" : "busy off"); }

// Work of `steps` steps, each taking `step_ms` (slept).
class CountedWork : public LongWork {
 public:
  CountedWork(const char *name, int steps, int step_ms) : name_(name), steps_(steps), step_ms_(step_ms) {}
  bool step() override {
    events.push_back(name_ + ":step");
    g_usleep(step_ms_ * 1000);
    return ++done_ < steps_;
  }
  double fraction() const override { return (double)done_ / steps_; }
  void end(bool finished) override { events.push_back(name_ + (finished ? ":end finished" : ":end cancelled")); }

 private:
  std::string name_;
  int steps_, step_ms_, done_ = 0;
};

int count(const std::string &what) {
  int n = 0;
  for (const std::string &e : events) n += e == what;
  return n;
}

GtkWidget *child_of_type(GtkWidget *top, GType type) {
  if (G_TYPE_CHECK_INSTANCE_TYPE(top, type)) return top;
  if (!GTK_IS_CONTAINER(top)) return NULL;
  GList *children = gtk_container_get_children(GTK_CONTAINER(top));
  GtkWidget *found = NULL;
  for (GList *c = children; c && !found; c = c->next) found = child_of_type(GTK_WIDGET(c->data), type);
  g_list_free(children);
  return found;
}

class LongWorkTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    init_toolkit();
    events.clear();
    long_work_events.busy = note_busy;
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget *column = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), column);
    box = gtk_hbox_new(FALSE, 0);
    gtk_box_pack_start(GTK_BOX(column), box, FALSE, FALSE, 0);
    gtk_widget_show_all(window);
    gtk_widget_hide(box);
  }
  void TearDown() override {
    gtk_widget_destroy(window);
    long_work_events.busy = NULL;
    GuiTest::TearDown();
  }
  GtkWidget *window = nullptr, *box = nullptr;
};

}  // namespace

TEST_F(LongWorkTest, WorkThatEndsWithinTheFirstSliceIsDoneInsideTheCall) {
  start_long_work(new CountedWork("a", 3, 1));
  EXPECT_EQ(events, (std::vector<std::string>{"a:step", "a:step", "a:step", "a:end finished"}));
  EXPECT_FALSE(long_work_busy());
  pump_for(50);
  EXPECT_EQ(events.size(), 4u) << "nothing more from the main loop";
}

TEST_F(LongWorkTest, LongerWorkGoesOnFromTheMainLoopAndShowsItsProgress) {
  CountedWork *work = new CountedWork("a", 40, 20);  // 0.8 s in all
  work->progress_box = box;
  gint64 started = g_get_monotonic_time();
  start_long_work(work);
  int inside = count("a:step");
  EXPECT_GE(inside, 1);
  EXPECT_LE(inside, long_work_first_slice_ms / 20 + 1) << "the first slice ends after about 100 ms";
  EXPECT_TRUE(long_work_busy());
  EXPECT_EQ(events.back(), "busy on");
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(box)) << "no progress before 0.3 s";
  ASSERT_TRUE(pump_until([&] { return GTK_WIDGET_VISIBLE(box); }));
  EXPECT_GE(g_get_monotonic_time() - started, long_work_progress_after_ms * 1000);
  GtkWidget *bar = child_of_type(box, GTK_TYPE_PROGRESS_BAR);
  ASSERT_NE(bar, nullptr);
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(bar)), count("a:step") / 40.0);
  EXPECT_NE(child_of_type(box, GTK_TYPE_BUTTON), nullptr);
  ASSERT_TRUE(pump_until([] { return !long_work_busy(); }));
  EXPECT_EQ(count("a:step"), 40);
  std::vector<std::string> last(events.end() - 2, events.end());
  EXPECT_EQ(last, (std::vector<std::string>{"a:end finished", "busy off"}));
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(box)) << "the box hidden again, as it was";
  EXPECT_EQ(child_of_type(box, GTK_TYPE_PROGRESS_BAR), nullptr);
}

TEST_F(LongWorkTest, WorkWaitsForTheWorkBeforeItAndCancelEndsEitherAtOnce) {
  CountedWork *a = new CountedWork("a", 80, 10);
  a->progress_box = box;
  start_long_work(a);
  CountedWork *b = new CountedWork("b", 2, 1);
  CountedWork *c = new CountedWork("c", 2, 1);
  start_long_work(b);
  start_long_work(c);
  EXPECT_EQ(count("b:step"), 0) << "b waits for a";
  cancel_long_work(b);
  EXPECT_EQ(events.back(), "b:end cancelled");
  EXPECT_TRUE(long_work_busy());
  ASSERT_TRUE(pump_until([&] { return GTK_WIDGET_VISIBLE(box); }));
  // Cancel of the running work: its end, then the next work's turn.
  gtk_button_clicked(GTK_BUTTON(child_of_type(box, GTK_TYPE_BUTTON)));
  EXPECT_EQ(events.back(), "a:end cancelled");
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(box));
  int a_steps = count("a:step");
  EXPECT_LT(a_steps, 80);
  ASSERT_TRUE(pump_until([] { return !long_work_busy(); }));
  EXPECT_EQ(count("a:step"), a_steps);
  EXPECT_EQ(count("b:step"), 0);
  EXPECT_EQ(count("c:step"), 2);
  std::vector<std::string> last(events.end() - 2, events.end());
  EXPECT_EQ(last, (std::vector<std::string>{"c:end finished", "busy off"}));
  cancel_long_work(c);  // ended already: nothing happens
  EXPECT_EQ(events.back(), "busy off");
}
