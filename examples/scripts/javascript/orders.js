// Example scripts for the OrderSizes template (JavaScript). Every file of the script
// directory is loaded as one program; the template's "run" list names the procedures.

// Orders of this total or more count as large.
var LARGE_ORDER = 100;

// Fills the "Size" variable from the extracted total, before the line is written.
function ClassifyOrder() {
    var total = parseFloat(Template.GetValueByName("Total"));
    Template.SetValueByName("Size", total >= LARGE_ORDER ? "large" : "small");
}

// Notes every large order in a file of its own, next to the output file.
function NoteLargeOrder() {
    if (Template.GetValueByName("Size") !== "large") return;
    System.AppendLine("large-orders.txt",
        "Order " + Template.GetValueByName("OrderNo") + " from " +
        Template.GetValueByName("Customer") + ": " + Template.GetValueByName("Total") + " EUR");
}
