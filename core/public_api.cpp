// The public functions: each calls its inner function with the same
// arguments and hands back the result unchanged.
#include <type_traits>

#include "api.h"

#define TALVOR_API(result, name, parameters, arguments) \
  result Talvor##name parameters { return TalvorInner##name arguments; }
#include "api_list.h"

// The list and the chief header must declare the same functions: a
// difference would otherwise define an overload and leave a name undefined.
#define TALVOR_API(result, name, parameters, arguments)                                       \
  static_assert(std::is_same<decltype(&Talvor##name), result(*) parameters>::value &&           \
                    std::is_same<decltype(&TalvorInner##name), result(*) parameters>::value,    \
                "Talvor" #name " differs from its declaration");
#include "api_list.h"
