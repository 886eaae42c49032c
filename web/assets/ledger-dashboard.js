// The ledger's dashboard: choosing a result in the filters applies it at once. Everything else
// works without script; no page carries inline script.
"use strict";
document.addEventListener("DOMContentLoaded", function () {
  var select = document.querySelector("form.filters select[name=result]");
  if (select) {
    select.addEventListener("change", function () {
      select.form.submit();
    });
  }
});
