// Builder-style setters: `with<&T::field>` is a callable taking a T by value
// and a new value for one field, and returning the T with that field
// replaced. Declared as a method (`.def<&with<&T::field>>("with_field($self,
// value)")`), it is the binding of every builder that sets one field.
#pragma once

#include <optional>
#include <utility>

namespace kelo::py {

template <class M>
struct MemberOf;
template <class T, class F>
struct MemberOf<F T::*> {
  using Owner = T;
  using Field = F;
};

// What a setter takes for a field: an optional field is set to a value,
// never cleared, so its setter takes the value type.
template <class F>
struct SetterValue {
  using type = F;
};
template <class F>
struct SetterValue<std::optional<F>> {
  using type = F;
};

template <auto Field, class Owner = typename MemberOf<decltype(Field)>::Owner,
          class V = typename SetterValue<typename MemberOf<decltype(Field)>::Field>::type>
Owner with(Owner self, V value) {
  self.*Field = std::move(value);
  return self;
}

}  // namespace kelo::py
