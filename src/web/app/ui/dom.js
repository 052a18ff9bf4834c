// The one way views make elements: text always goes in as text (textContent),
// never as markup, so a server name or a log line can never become HTML.

export function el(tag, options = {}, children = []) {
    const node = document.createElement(tag);
    if (options.className) node.className = options.className;
    if (options.text !== undefined) node.textContent = options.text;
    if (options.attrs) for (const [name, value] of Object.entries(options.attrs)) node.setAttribute(name, value);
    if (options.data) for (const [name, value] of Object.entries(options.data)) node.dataset[name] = value;
    for (const child of children) node.append(child);
    return node;
}

export function byId(id) {
    return document.getElementById(id);
}

export function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
}
