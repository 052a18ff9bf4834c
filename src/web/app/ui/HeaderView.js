// The bar at the top: the computer's name and the connection state.

import { connectionText } from '../model/Format.js';
import { byId, setText } from './dom.js';

export class HeaderView {
    constructor({ onComputers }) {
        this.name = byId('computerName');
        this.state = byId('connectionState');
        this.text = byId('connectionText');
        byId('computerButton').addEventListener('click', () => onComputers());
    }

    show(name, state) {
        setText(this.name, name || 'Wardlamp');
        this.state.dataset.kind = state ? state.kind : 'none';
        const text = state ? connectionText(state) : '';
        setText(this.text, text);
        this.state.title = text;
    }
}
