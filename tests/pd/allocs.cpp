// [allocs]: counts the heap allocations of the whole Pd process from the
// first list it receives to the last.  Pd is started with this library preloaded, so
// that its allocator (tests/support/counting.cpp) stands in for the C
// library's everywhere, and loads it again as an external, which finds the
// same copy.  Wired to loopmass~'s motion outlet, what it counts between
// two lists is all that ran in between: Pd's blocks, its scheduler and the
// object's clock routine with the list it sends.
//
//   [allocs]  a list: noted;  "report": posts
//             "allocs: N lists, M allocations between them"

#include <m_pd.h>

#include "counting.h"

namespace {

t_class *allocs_class;

struct t_allocs {
    t_object a_obj;
    long a_lists;
    long a_first; // the count when the first list arrived
    long a_last;  // and when the last one did
};

void *allocs_new(void)
{
    t_allocs *x = (t_allocs *)pd_new(allocs_class);
    x->a_lists = 0;
    x->a_first = 0;
    x->a_last = 0;
    return x;
}

void allocs_list(t_allocs *x, t_symbol *, int, t_atom *)
{
    if (x->a_lists == 0) {
        counting::enable(true);
        x->a_first = counting::allocations();
    }
    x->a_last = counting::allocations();
    x->a_lists++;
}

void allocs_report(t_allocs *x)
{
    counting::enable(false);
    post("allocs: %ld lists, %ld allocations between them", x->a_lists, x->a_last - x->a_first);
}

} // namespace

extern "C" __attribute__((visibility("default"))) void allocs_setup(void)
{
    allocs_class = class_new(gensym("allocs"), (t_newmethod)(void (*)(void))allocs_new, nullptr, sizeof(t_allocs),
                             CLASS_DEFAULT, A_NULL);
    class_addlist(allocs_class, allocs_list);
    class_addmethod(allocs_class, (t_method)allocs_report, gensym("report"), A_NULL);
}
